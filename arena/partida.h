// A match in the practice arena: robots started as child processes, fed message lines tick by
// tick in lock-step with the physics, every line kept in a transcript.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "arena/desenllac.h"
#include "arena/fisica.h"
#include "arena/gravacio.h"
#include "arena/proces.h"

namespace arena {

// The built-in sitting target: a robot with no program that never moves.
inline const std::string kDiana = "diana";

// The robots' colours: given by place, and offered to robots whose own colours are taken.
inline constexpr const char* kPaleta[8] = {"#2b7bd6", "#d64b2b", "#2ba84a", "#b02bd6",
                                           "#d6a22b", "#2bc4d6", "#6d6d6d", "#d62b8c"};

struct t_lloc {
  double x, y, rumb;
  double vel = 0;         // speed along the heading when the game starts
  bool aleatori = false;  // placed at random after all, like robots beyond the given places
};

struct t_config;

// Who watches a match as it is played: told after each tick, and at the end of each game (`fi`),
// what the game's recording holds and how each robot stands (names and colours as given so far;
// at the end, the game's own standing). Called on the match's thread: it must be quick.
using t_observador = std::function<void(const t_config& config, const t_resultat& joc,
                                        const std::vector<t_fitxa>& fitxes, bool fi)>;

struct t_config {
  uint64_t llavor = 1;
  double durada = 60;  // game time, s
  double dt = 0.05;    // game time of one tick
  double amplada = 40, alcada = 30;
  // Executables, commands with arguments ("python3 bot.py"), or kDiana.
  std::vector<std::string> robots;
  std::vector<std::string> noms;    // names given by the match, "" for the robot's own
  std::vector<t_lloc> llocs;        // places of the first robots; the rest at random
  int galetes = 6, mines = 3;       // placed at random
  std::vector<t_objecte> objectes;  // placed as given, besides the random ones
  std::vector<t_tret> trets;        // shots already flying when the game starts
  // Game options that differ from the defaults, by number; NaN keeps the default.
  t_canvis_opcions opcions = SenseCanvis();
  int espera_ms = 10000;            // how long a robot may take over one tick (lock-step)
  bool temps_real = false;          // a tick every dt of wall-clock time instead of lock-step
  size_t max_bytes_tick = 1 << 20;  // more output than this in one tick is a flood
  int max_errors_tick = 10;         // more bad command lines than this in one tick is garbage
  t_limits limits;                  // memory and processes of each robot
  long max_fitxer_mib = 64;         // largest file a robot may write; 0: no limit
  bool aillat = true;               // each robot in a sandbox of its own, where one can be made
  // Each robot's stderr goes to BASE.NAME.err (the transcript's name without its extension, or
  // a kept game's name in a tournament); empty: the arena's own.
  std::string base_err;
  int jocs = 1;        // games in the series, played by the same robot processes
  int primer_joc = 1;  // the number of the first of them: its layout and its seed
  // The file the transcript is written to as the match goes, "# game K" before each game of a
  // series; empty keeps it in each game's t_resultat::transcripcio instead.
  std::string transcripcio;
  // What one robot may leave behind, beyond the flood rule of max_bytes_tick: in the transcript,
  // its own lines and the arena's answers to them over the whole match (not the messages every
  // tick brings); in the replay, per game, its Print and Debug text, its drawings, and the lines
  // of its exchange. Past a budget the rest is not kept, and one line says so.
  size_t max_transcripcio_robot = size_t{64} << 20;
  size_t max_text_repeticio = size_t{256} << 10;
  int max_dibuixos = 10000;
  size_t max_linies_repeticio = size_t{4} << 20;
  t_observador observador;  // a live view of the match, if any
};

// Why the match `config` is too long to be recorded, with the estimate; empty if it is not.
std::string MassaLlarga(const t_config& config);

// The field of game `joc` as it starts: robots at their given places or at random, cookies and
// mines at random, the given objects and shots; the random places drawn from the game's seed, so
// the same configuration and game always give the same field. Random places are drawn a bounded
// number of times: false, with `error` naming what found no room, when the field is too full
// (or the arena was interrupted); `mon` then holds what was placed.
bool Disposa(const t_config& config, int joc, t_mon& mon, std::string& error);
// Every game of the series laid out as Disposa would, before any robot is started.
bool ComprovaDisposicio(const t_config& config, std::string& error);

// Plays config.jocs games, numbered from config.primer_joc, with the same robot processes; one
// result for each game played (fewer if the arena was interrupted).
std::vector<t_resultat> JugaSerie(const t_config& config);
// The first game of JugaSerie, for a single game.
t_resultat JugaPartida(const t_config& config);

// A robot's name as part of a file name: what could leave the folder or confuse a shell ('/',
// blanks, quotes, control characters) becomes '_'.
std::string NomFitxer(const std::string& nom);

// The name a robot is known by in a match, before its "#N": the program's file name, or for a
// program found in PATH ("python3 bot.py") that of its first argument that is a file.
std::string NomRobot(const std::string& robot);

}  // namespace arena
