// The line protocol's wire text, both ways: a robot's command lines into typed commands and back,
// the arena's typed messages into lines and back, for the arena, guio and the built-in opponents.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>

namespace arena {

// Object types as the Radar and Collision messages report them.
enum { OBJ_ROBOT = 0, OBJ_TRET = 1, OBJ_PARET = 2, OBJ_GALETA = 3, OBJ_MINA = 4 };
// Part bits of Rotate, RotateTo, RotateAmount and Sweep.
enum { PART_COS = 1, PART_CANYO = 2, PART_RADAR = 4 };

// A command line longer than this is not read at all.
constexpr size_t kMaxLinia = 4096;

// ---- Commands: what a robot writes -----------------------------------------------------------

struct t_accelera {  // Accelerate ACCELERATION
  double accel;
};
struct t_frena {  // Brake PORTION (0 to 1)
  double fre;
};
struct t_dispara {  // Shoot ENERGY
  double energia;
};
struct t_gira {  // Rotate PARTS SPEED: for ever
  int parts;
  double vel;
};
struct t_gira_fins {  // RotateTo PARTS SPEED ANGLE: to an angle, the shorter way round
  int parts;
  double vel, angle;
};
struct t_gira_quant {  // RotateAmount PARTS SPEED ANGLE: by an angle
  int parts;
  double vel, angle;
};
struct t_escombra {  // Sweep PARTS SPEED LEFT RIGHT: to and fro between two angles
  int parts;
  double vel, esquerra, dreta;
};
struct t_escriu {  // Print TEXT
  std::string text;
};
struct t_depura {  // Debug TEXT
  std::string text;
};
struct t_dibuixa_linia {  // DebugLine X1 Y1 X2 Y2
  double x1, y1, x2, y2;
};
struct t_dibuixa_cercle {  // DebugCircle X Y RADIUS
  double x, y, radi;
};
struct t_nom {  // Name NAME: one word (NomValid)
  std::string nom;
};
struct t_colors {  // Colour FIRST SECOND, each "#rrggbb"; the second empty if it was no colour
  std::string primer, segon;
};
struct t_opcio_robot {  // RobotOption OPTION VALUE
  int opcio, valor;
};

using t_comanda = std::variant<t_accelera, t_frena, t_dispara, t_gira, t_gira_fins, t_gira_quant,
                               t_escombra, t_escriu, t_depura, t_dibuixa_linia, t_dibuixa_cercle,
                               t_nom, t_colors, t_opcio_robot>;

// ---- Messages: what the arena writes ---------------------------------------------------------

struct t_inicia {  // Initialize FIRST (1: the robot's first match)
  int primer;
};
struct t_nom_donat {  // YourName NAME
  std::string nom;
};
struct t_color_donat {  // YourColour 0xRRGGBB, kept as "#rrggbb"
  std::string color;
};
struct t_opcio_joc {  // GameOption OPTION VALUE
  int opcio;
  double valor;
};
struct t_comenca {};  // GameStarts
struct t_info {       // Info TIME SPEED CANNON
  double temps, vel, canyo;
};
struct t_coordenades {  // Coordinates X Y HEADING
  double x, y, rumb;
};
struct t_radar {  // Radar DISTANCE TYPE ANGLE
  double distancia;
  int tipus;
  double angle;
};
struct t_info_robot {  // RobotInfo ENERGY TEAMMATE
  double energia;
  int company;
};
struct t_xoc {  // Collision TYPE ANGLE
  int tipus;
  double angle;
};
struct t_gir_acabat {  // RotationReached PARTS
  int parts;
};
struct t_energia {  // Energy ENERGY
  double energia;
};
struct t_vius {  // RobotsLeft COUNT
  int robots;
};
struct t_advertiment {  // Warning CODE TEXT
  int codi;
  std::string text;
};
struct t_mort {};   // Dead
struct t_acaba {};  // GameFinishes
struct t_surt {};   // ExitRobot

using t_missatge_arena =
    std::variant<t_inicia, t_nom_donat, t_color_donat, t_opcio_joc, t_comenca, t_info,
                 t_coordenades, t_radar, t_info_robot, t_xoc, t_gir_acabat, t_energia, t_vius,
                 t_advertiment, t_mort, t_acaba, t_surt>;

// ---- Reading and writing ---------------------------------------------------------------------

// What the arena makes of one command line: the command, or the warning that refuses it (code 1
// for a line it cannot read, 3 for a robot option it does not know); a name cut at its first
// blank is taken and warned of (code 2).
struct t_lectura {
  std::optional<t_comanda> comanda;
  std::optional<t_advertiment> avis;
};
t_lectura LlegeixComanda(const std::string& linia);

// The line of a command or a message, numbers with six significant digits and a point.
std::string Linia(const t_comanda& comanda);
std::string Linia(const t_missatge_arena& missatge);
// The same line added to `o`, for a caller that writes many into one buffer.
void AfegeixLinia(std::string& o, const t_missatge_arena& missatge);
// A message line read back, as a robot reads it; nothing if it is none.
std::optional<t_missatge_arena> LlegeixMissatge(const std::string& linia);

// Numbers in commands are read as the robots read the arena's: a decimal comma is a point.
std::string AmbPunts(std::string linia);
// "0xRRGGBB" (or "RRGGBB") as "#rrggbb"; empty if it is no colour.
std::string LlegeixColor(std::string text);
// A robot's name as the protocol takes it: one word of printable ASCII without '#'.
bool NomValid(const std::string& nom);

}  // namespace arena
