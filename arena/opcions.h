// The game options in one table: each option's number, its name in a match file, its default and
// what it means; the physics, the GameOption lines, match files and results records all read it.
#pragma once

#include <array>
#include <cstddef>
#include <limits>

namespace arena {

// The options the physics reads, by number; the others are sent to the robots and not used.
enum {
  OPT_GIR_COS = 0,
  OPT_GIR_CANYO = 1,
  OPT_GIR_RADAR = 2,
  OPT_ACCEL_MAX = 3,
  OPT_ACCEL_MIN = 4,
  OPT_ENERGIA_INICIAL = 5,
  OPT_ENERGIA_MAX = 6,
  OPT_VEL_TRET = 8,
  OPT_TRET_MIN = 9,
  OPT_TRET_MAX = 10,
  OPT_DURADA = 12,
  NUM_OPCIONS = 15
};

struct t_opcio {
  int numero;       // as GameOption sends it
  const char* nom;  // its key under [options] in a match file; nullptr where no file sets it
  double defecte;
  const char* que;  // what it means, for people
};

// Every option, in number order. The match length (12) is the match's duration, whatever the
// table says; the unused ones keep the values robots have always been sent.
inline constexpr std::array<t_opcio, NUM_OPCIONS> kOpcions = {{
    {OPT_GIR_COS, "body_turn", 0.785398, "body turn speed, rad/s"},
    {OPT_GIR_CANYO, "cannon_turn", 1.5708, "cannon turn speed, rad/s"},
    {OPT_GIR_RADAR, "radar_turn", 2.0944, "radar turn speed, rad/s"},
    {OPT_ACCEL_MAX, "max_acceleration", 1.0, "largest acceleration, units/s²"},
    {OPT_ACCEL_MIN, "min_acceleration", -0.5, "smallest acceleration, units/s²"},
    {OPT_ENERGIA_INICIAL, "start_energy", 100, "starting energy"},
    {OPT_ENERGIA_MAX, "max_energy", 120, "largest energy"},
    {7, nullptr, 10, "unused"},
    {OPT_VEL_TRET, "shot_speed", 10, "shot speed, units/s"},
    {OPT_TRET_MIN, "min_shot", 0.5, "smallest shot energy"},
    {OPT_TRET_MAX, "max_shot", 5, "largest shot energy"},
    {11, nullptr, 10, "unused"},
    {OPT_DURADA, nullptr, 60, "the match length, s"},
    {13, nullptr, 0, "unused"},
    {14, nullptr, 0, "unused"},
}};

// The table is read by index as well as by row: each row stands at its number.
constexpr bool PerNumero() {
  for (int k = 0; k < NUM_OPCIONS; ++k) {
    if (kOpcions[static_cast<std::size_t>(k)].numero != k) return false;
  }
  return true;
}
static_assert(PerNumero(), "kOpcions must list the options in number order");

// What a match changes of the options, by number; NaN keeps the table's default.
using t_canvis_opcions = std::array<double, NUM_OPCIONS>;

constexpr t_canvis_opcions SenseCanvis() {
  t_canvis_opcions c{};
  for (double& v : c) v = std::numeric_limits<double>::quiet_NaN();
  return c;
}

// The table's defaults.
void OpcionsPerDefecte(double opcions[NUM_OPCIONS]);

// The options a game is played with: the defaults, what the match changes, and its `durada`.
void OpcionsDelJoc(const t_canvis_opcions& canvis, double durada, double opcions[NUM_OPCIONS]);

}  // namespace arena
