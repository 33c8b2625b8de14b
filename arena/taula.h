// The table of a tournament, from its records alone, so that a tally of shards gives the same
// table as the run that wrote them: a duel's score and statistics, or a melee's row per robot.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "arena/estadistica.h"
#include "arena/registre.h"

namespace arena {

// In seed order whatever order the records came in; for two robots in pairs, wins, draws,
// losses, drops, score, Elo and (with `sprt`) the test, over the seed-ordered pairs up to the
// test's decision; for a melee, a row per robot.
std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt);

}  // namespace arena
