// One game's recording: what the match saw, frame by frame, for the summary, the replay page and
// picture and the tournament's records; and the budgets on what one robot may leave in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "arena/desenllac.h"
#include "arena/fisica.h"

namespace arena {

// The replay is recorded whole, frame by frame, and written at the end: a match whose recording
// would pass this many robot-frames (robots × ticks × games) is refused before it starts.
constexpr double kMaxQuadresRobot = 2e6;
// What one robot-frame costs at its peak, while the page is written: measured, for the estimate.
constexpr double kBytesQuadreRobot = 400;

struct t_fitxa {
  std::string nom;
  int trets = 0, encerts = 0, galetes = 0, mines = 0;
  double energia = 0;
  t_desenllac desenllac;  // alive, dead, or dropped and why
  std::string err;        // the file of what it wrote to its standard error, if it wrote anything
  std::string color;      // "#rrggbb", the colour it was given
  double punts = 0;       // what the game gave it: 1 for a win, shared among those tied for it
  double cpu = 0;         // CPU seconds its processes used over the whole series
  std::vector<std::string> err_final;  // the last lines of that file, for the replay
};

// What the field looked like at one moment, for the replay.
struct t_quadre {
  double temps;
  std::vector<t_cos_robot> robots;
  std::vector<t_tret> trets;
  std::vector<t_impacte> radar;  // what each robot's Radar message said at this tick
};

// A line of the exchange, by tick and robot, for the replay: '>' a message the robot was sent,
// '<' a command it wrote, '!' what the arena did to it.
struct t_linia {
  int tick;
  int robot;
  char sentit;
  std::string text;
};

// How long a DebugLine or DebugCircle stays on the replay's field, in seconds of game time
// (unless the same robot draws its next one of the same kind before).
constexpr double VIDA_DIBUIX = 0.5;

// A line a robot wrote for people to read or see: Print, Debug, DebugLine or DebugCircle, with
// its game time; numbers with a decimal comma already read as numbers.
struct t_nota {
  double temps;
  int robot;
  std::string linia;
};

// Something worth marking in a replay: a hit, a death, a cookie or a mine taken.
struct t_fet {
  double temps;
  int tipus;  // OBJ_TRET for a hit, OBJ_GALETA, OBJ_MINA, or -1 for a death
  int robot;
  double x, y;
};

struct t_resultat {
  uint64_t llavor = 0;
  int joc = 1;                            // its number in the series
  int interromput = 0;                    // the signal that stopped the match before its end, or 0
  std::vector<std::string> transcripcio;  // "TIME ROBOT > message" / "TIME ROBOT < command"
  size_t linies_transcripcio = 0;  // lines of this game's transcript, in memory or in the file
  std::string error_transcripcio;  // why the transcript's file could not be written, if so
  // Why the arena itself could not play the game as asked: a robot it could not start (its
  // files, pipes), a field it could not lay out.
  std::string error_arena;
  std::vector<t_fitxa> fitxes;
  std::string guanyador;  // empty for a draw
  double temps = 0;
  int ticks = 0;
  // The recording: a frame per tick, the cookies and mines each time they changed, the events.
  std::vector<t_quadre> quadres;
  std::vector<std::pair<double, std::vector<t_objecte>>> objectes;
  std::vector<t_fet> fets;
  std::vector<t_nota> notes;
  std::vector<t_linia> linies;  // the transcript's lines, by robot, but Info and Radar
};

// What one robot may leave in one game's recording: its Print and Debug text, its drawings, and
// the lines of its exchange. Past a budget the rest is not kept, and one line says so.
struct t_pressupost {
  size_t text;    // bytes
  int dibuixos;   // DebugLine and DebugCircle
  size_t linies;  // bytes
};

// What one robot has left so far in this game's recording, against its budget; each cut is
// said once.
struct t_despesa {
  size_t bytes_text = 0, bytes_linies = 0;
  int dibuixos = 0;
  bool text_tallat = false, dibuixos_tallats = false, linies_tallades = false;
};

// A budget in bytes as people read it: "4 MiB", "256 KiB".
std::string Mida(size_t bytes);

// A frame of the field as `mon` stands at game time `temps`, nothing seen by any radar yet; the
// cookies and mines too if they changed since they were last recorded.
void GravaQuadre(t_resultat& r, double temps, const t_mon& mon);
// What robot `robot`'s radar saw in the last frame.
void GravaRadar(t_resultat& r, int robot, const t_impacte& vist);

// A line of the exchange, already plain text, while the robot's budget lasts; what the arena did
// to the robot ('!') is kept whatever the budget. The arena's Info and Radar messages are not
// passed here: the replay rebuilds them from its frames.
void GravaLinia(t_resultat& r, const t_pressupost& maxim, t_despesa& despesa, t_linia linia);
// A Print or Debug line, or a drawing, as the robot wrote it, while its budget for this game
// lasts.
void GravaNota(t_resultat& r, const t_pressupost& maxim, t_despesa& despesa, const t_nota& nota,
               bool dibuix);

}  // namespace arena
