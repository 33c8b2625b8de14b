// Tournaments: many seeds played side by side, each two-robot seed from both places, every game
// recorded (arena/registre.h) the moment it ends; the table (arena/taula.h) reads only records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "arena/estadistica.h"
#include "arena/partida.h"

namespace arena {

using json = nlohmann::json;

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
  // A live view, if any: told under the tournament's lock of each game recorded, and then of
  // the progress (games done, games to play, the test's counts so far). They must be quick.
  std::function<void(const json& registre)> en_registre;
  std::function<void(size_t fets, size_t total, const t_pentanomi& p)> en_progres;
};

// Plays the tournament, appending each game's record to t.resultats as it ends and reporting
// progress (and the test's state) on `progres`. Returns every record, those of t.previs first.
// A record or kept file that could not be written stops the tournament: `error` then names the
// file and the reason, and the records already written stay.
std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres,
                              std::string* error = nullptr);

}  // namespace arena
