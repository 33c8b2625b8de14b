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

struct t_torneig {
  uint64_t primera = 1, darrera = 1;  // the seeds, both included
  bool parells = true;                // two robots: each seed once from each place
  int fils = 0;                       // matches at once; 0 for one per core
  std::optional<t_sprt> sprt;         // stop as soon as the test decides
  std::string resultats;              // the results file (JSON Lines)
  bool guarda_caigudes = false;       // keep transcript, replay and picture of a game with a drop
  bool guarda_derrotes = false;       // ... of a game the first robot lost
  std::string dir_guardats = "out";
  std::string arena = "arena";  // how the replay command starts
  std::string partida;          // the match file, if the robots came with one
};

// The score of the record's first robot of the tournament in one two-robot game: 1 for a win,
// 0 for a loss, 0.5 for a draw or a game nobody survived.
double PuntsPrimer(const json& registre);

// The line of the results file for one game.
json Registre(const t_config& config, const t_torneig& t, const t_resultat& r, bool invertit,
              const std::vector<std::string>& fitxers);

// The table of a tournament, from its records alone: in seed order whatever order they came in;
// for two robots in pairs, wins, draws, losses, score, Elo and (with `sprt`) the test, over the
// seed-ordered pairs up to the test's decision; for a melee or unpaired games, a row per robot.
std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt);

// Plays the tournament, appending each game's record to t.resultats as it ends and reporting
// progress (and the test's state) on `progres`. Returns every record written.
std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres);

// Reads results files; false with `error` naming the file and line of a line that is no record.
bool LlegeixResultats(const std::vector<std::string>& fitxers, std::vector<json>& registres,
                      std::string& error);
