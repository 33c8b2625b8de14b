// Results records: each game of a tournament is a line of JSON, written the moment it ends. How a
// line is built, written, read back and checked, and how a results file is opened and continued.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "arena/partida.h"
#include "arena/torneig.h"

namespace arena {

// The format of a results line; a file of another format is refused, not misread.
constexpr int VERSIO_REGISTRE = 2;

// The seed, game and place order of a record: the order of the table, and what no two records
// of one tournament share.
std::tuple<uint64_t, int, bool> Clau(const json& registre);

// The score of the record's first robot of the tournament in one two-robot game: 1 for a win,
// 0 for a loss, 0.5 for a draw or a game nobody survived.
double PuntsPrimer(const json& registre);

// What makes two results files parts of one tournament: the programs in the tournament's order,
// the names given to them, and every setting that changes a game.
json Empremta(const t_config& config, const t_torneig& t);

// The line of the results file for one game.
json Registre(const t_config& config, const t_torneig& t, const json& empremta, const t_resultat& r,
              bool invertit, const std::vector<std::string>& fitxers);

// Appends the record's line to the results file `fd`, named `cami`. Empty, or why it could not
// be: a failed write, or a file removed while the tournament runs.
std::string EscriuRegistre(int fd, const std::string& cami, const json& registre);

// Reads results files and checks that they are one tournament: each line a record of this
// format, with the fields and numbers a table needs; every record of the same tournament as the
// first; no game twice. False with `error` naming the file and line (both lines for a game
// recorded twice). With `tolera_tall`, a last line cut short (no newline, no JSON) is passed
// over, as --resume will take it away.
bool LlegeixResultats(const std::vector<std::string>& fitxers, std::vector<json>& registres,
                      std::string& error, bool tolera_tall = false);

// Before a results file is continued: a last line cut short by a tournament killed while it
// wrote is taken away, and a whole last line without its newline gets one. False, with `error`,
// if the file could not be mended.
bool ReparaFinal(const std::string& cami, std::string& error);

// Why record `r` does not fit a tournament of `empremta`, or empty if it does.
std::string Diferencia(const json& empremta, const json& r);

// Opens and locks t.resultats (into t.fd_resultats) before anything is played: a FIFO or a
// folder is refused, another arena writing it is refused, and one that holds results is not
// truncated by surprise: `reprendre` reads what it has into t.previs, which must be this very
// tournament over the same seeds, `sobreescriu` empties it. False, with `error`, if it cannot be
// used; nothing is written to the file before it is known to be this tournament's.
bool ObreResultats(t_torneig& t, const t_config& config, bool reprendre, bool sobreescriu,
                   std::string& error);

}  // namespace arena
