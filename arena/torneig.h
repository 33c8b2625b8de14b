// Tournaments: many seeds played side by side, each two-robot seed from both places; every game
// written as a line of JSON the moment it ends; a table with the statistics that say how sure
// the result is, computed from those lines alone, so that a tally of shards gives the same.
#pragma once

#include <atomic>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "arena/estadistica.h"
#include "arena/partida.h"

using json = nlohmann::json;

// The format of a results line; a file of another format is refused, not misread.
constexpr int VERSIO_REGISTRE = 2;

struct t_torneig {
  uint64_t primera = 1, darrera = 1;  // the seeds, both included
  bool parells = true;                // two robots: each seed once from each place
  int fils = 0;                       // matches at once; 0 for one per core
  std::optional<t_sprt> sprt;         // stop as soon as the test decides
  std::string resultats;              // the results file (JSON Lines)
  bool guarda_caigudes = false;       // keep transcript, replay and picture of a game with a drop
  bool guarda_derrotes = false;       // ... of a game the first robot lost
  bool guarda_tots = false;           // ... of every game
  std::string dir_guardats = "out";   // where kept games and robots' standard error go
  std::string arena = "arena";        // how the replay command starts
  std::string partida;                // the match file, if the robots came with one
  std::vector<json> previs;           // records already in the results file (--resume)
  bool progres_terminal = false;      // progress as one line rewritten in place
  int fd_resultats = -1;  // the results file, opened and locked by the caller; -1: open it here
};

// The score of the record's first robot of the tournament in one two-robot game: 1 for a win,
// 0 for a loss, 0.5 for a draw or a game nobody survived.
double PuntsPrimer(const json& registre);

// What makes two results files parts of one tournament: the programs in the tournament's order,
// the names given to them, and every setting that changes a game.
json Empremta(const t_config& config, const t_torneig& t);

// The line of the results file for one game.
json Registre(const t_config& config, const t_torneig& t, const json& empremta, const t_resultat& r,
              bool invertit, const std::vector<std::string>& fitxers);

// The table of a tournament, from its records alone: in seed order whatever order they came in;
// for two robots in pairs, wins, draws, losses, drops, score, Elo and (with `sprt`) the test,
// over the seed-ordered pairs up to the test's decision; for a melee, a row per robot.
std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt);

// Plays the tournament, appending each game's record to t.resultats as it ends and reporting
// progress (and the test's state) on `progres`. Returns every record, those of t.previs first.
// A record, kept file or progress that could not be written stops the tournament: `error` then
// names the file and the reason, and the records already written stay.
std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres,
                              std::string* error = nullptr);

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
