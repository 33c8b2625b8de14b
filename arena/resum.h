// What a game gives each robot, and the summary on screen of a match or a series: both read the
// game's record alone.
#pragma once

#include <string>
#include <vector>

#include "arena/gravacio.h"
#include "arena/partida.h"

namespace arena {

// The points of one game, given who is alive and with what energy: the robot left with the most
// energy wins 1; robots tied for the most share it; a game nobody survives gives nothing.
std::vector<double> Punts(const std::vector<t_fitxa>& fitxes);

// One screen: the match, a row per robot, the winner.
std::string Resum(const t_config& config, const t_resultat& resultat);
// For a series: each game's summary, then the points of each robot over the series.
std::string ResumSerie(const t_config& config, const std::vector<t_resultat>& jocs);

}  // namespace arena
