// The practice arena's physics: a walled rectangle with round robots, cookies, mines and shots;
// each robot has a body heading and a cannon and radar turning relative to it.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "arena/opcions.h"
#include "arena/protocol.h"

namespace arena {

// A whole turn, in radians, for the physics and the field's layout alike.
constexpr double DOS_PI = 6.283185307179586;

constexpr double RADI_ROBOT = 0.5;
constexpr double RADI_OBJECTE = 0.3;  // cookies and mines
constexpr double RADI_TRET = 0.1;
constexpr double FRE_MAX = 2.0;     // deceleration at full brake, units/s²
constexpr double FREGAMENT = 0.2;   // air drag: deceleration per unit of speed, 1/s
constexpr double VEL_MAX = 5.0;     // speed limit, units/s
constexpr double RECARREGA = 0.25;  // time between two shots of one cannon, s
constexpr double DANY_TRET = 2.0;   // energy a hit takes, per unit of shot energy
constexpr double ENERGIA_GALETA = 15.0;
constexpr double DANY_MINA = 15.0;
constexpr double DANY_XOC = 0.5;    // energy each of two robots loses, per unit of closing speed
constexpr double DANY_PARET = 0.5;  // energy lost hitting a wall, per unit of speed
// Times are sums of ticks, which floating point leaves a hair off: what is left of a wait below
// this is nothing.
constexpr double MARGE_TEMPS = 1e-9;

// How one part turns.
struct t_gir {
  enum { QUIET, CONSTANT, QUANTITAT, ESCOMBRA } mode = QUIET;
  double vel = 0;         // signed for CONSTANT; the magnitude otherwise, rad/s
  double objectiu = 0;    // QUANTITAT: the angle to reach (unwrapped)
  double lo = 0, hi = 0;  // ESCOMBRA: the bounds (unwrapped, near the part's angle)
};

struct t_cos_robot {
  double x = 0, y = 0;
  double rumb = 0;         // body heading in the world, rad (unwrapped)
  double canyo = 0;        // cannon angle relative to the body (unwrapped)
  double radar = 0;        // radar angle relative to the body (unwrapped)
  double radar_abans = 0;  // radar direction in the world one tick ago
  t_gir gir[3];            // body, cannon, radar
  double vel = 0;          // along the heading
  double accel = 0;
  double fre = 0;  // brake, 0 to 1
  double energia = 0;
  double recarrega = 0;
  bool viu = true;
  // Figures for the summary.
  int trets = 0, encerts = 0, galetes = 0, mines = 0;
};

struct t_tret {
  double x, y, vx, vy, energia;
  int autor;
};

struct t_objecte {
  double x, y;
  int tipus;  // OBJ_GALETA or OBJ_MINA
};

struct t_mon {
  double amplada = 40, alcada = 30;
  double temps = 0;
  double opcions[NUM_OPCIONS] = {};
  std::vector<t_cos_robot> robots;
  std::vector<t_tret> trets;
  std::vector<t_objecte> objectes;
};

// Something a robot must be told after a step: what it ran into (a wall, a robot, a shot, a
// cookie or a mine, and where), the parts whose turns completed, or its death.
struct t_event {
  int robot;
  std::variant<t_xoc, t_gir_acabat, t_mort> que;
};

// Angle in [0, 2π).
double Normal(double angle);

// Applies a command of robot `i` that moves things (Accelerate, Brake, Shoot, the turns);
// the others (Print, Name and the like) are the match's business and are left alone here.
void Ordena(t_mon& mon, int i, const t_comanda& comanda);

// Advances the world by `dt`, collecting what the robots must be told.
void Avanca(t_mon& mon, double dt, std::vector<t_event>& events);

// What robot `i`'s radar sees: the nearest object its beam swept over since the last tick, or
// the wall straight ahead.
struct t_impacte {
  double distancia;
  int tipus;
  int index;  // the robot, shot or object hit; -1 for a wall
  // Relative to the body, in [0, 2π): the bearing of the object's centre, kept within the arc
  // the beam swept over in the last tick; for a wall, where the radar points.
  double angle;
};
t_impacte Radar(const t_mon& mon, int i);

// Distance from (x, y) along `direccio` to the wall.
double DistanciaParet(const t_mon& mon, double x, double y, double direccio);

// A seeded generator whose numbers are the same on every machine.
struct t_atzar {
  uint64_t estat;
  uint64_t Seguent();
  double Uniforme(double a, double b);  // in [a, b)
};

}  // namespace arena
