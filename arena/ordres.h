// The arena's command line: read and checked into one record of what it asks for, then merged
// with a match file's settings into the configuration a match or a tournament is played with.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "arena/estadistica.h"
#include "arena/partida.h"

namespace arena {

// What the arena is asked to do: play a match (or a series), a tournament, or a tally of
// results files.
enum class t_mode { PARTIDA, TORNEIG, RECOMPTE };

// The seeds of a tournament, both included.
struct t_llavors {
  uint64_t primera = 1, darrera = 1;
};

// Where the live view listens.
struct t_adreca {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
};

// "[HOST:]PORT" read into `a`: empty, or what is wrong with it.
std::string LlegeixAdreca(const std::string& text, t_adreca& a);

// Everything the command line says. A setting it does not give is empty, so that a match
// file's stands.
struct t_ordres {
  t_mode mode = t_mode::PARTIDA;
  std::vector<std::string> robots;  // as given: replacing the match file's, in order
  std::vector<std::string> noms;    // --name, in the robots' order
  std::string partida;              // --match
  std::optional<uint64_t> llavor;
  std::optional<double> durada;
  std::optional<int> jocs, primer_joc, espera_ms;
  std::optional<long> memoria_mib, max_fitxer_mib;
  std::optional<int> processos;
  bool temps_real = false, sense_caixa = false;
  std::string transcripcio;  // a match's, or empty for out/match-SEED.txt
  // A tournament: its seeds (from --seed, --tournament, --seeds or --sprt's default), its test,
  // its results file and what it keeps.
  t_llavors llavors;
  std::optional<t_sprt> sprt;
  std::string resultats;
  bool guarda_caigudes = false, guarda_derrotes = false, guarda_tots = false;
  bool sense_parells = false, reprendre = false, sobreescriu = false;
  int fils = 0;
  std::vector<std::string> recompte;  // a tally: the results files
  // The live view: where to serve it, if at all, and whether to stop serving when the arena is
  // done rather than on a signal.
  std::optional<t_adreca> servei;
  bool servei_surt = false;
};

// Reads the command line into `o`. Nothing to return means go on; otherwise the exit status:
// 0 after --help, 2 after a message on standard error naming the argument and what is wrong
// with it, before any work.
std::optional<int> LlegeixOrdres(int argc, const char* const* argv, t_ordres& o);

// The configuration of a match or a tournament: the match file's, with what the command line
// gives over it (robots named on it replace the file's in order, each replacement said on
// `avisos`); `dir_rivals` is where the built-in robots live. False, with `error`, for what
// cannot be played: no robot or too many, a robot that cannot be started, a match too long to
// record, a field too full (for a tournament, that of its first seed).
bool Configura(const t_ordres& o, const std::string& dir_rivals, std::ostream& avisos,
               t_config& config, std::string& error);

}  // namespace arena
