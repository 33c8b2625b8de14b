// The radar reaction: every contact may spend one shot of the budget; while scanning a robot
// starts a lock-on and a cookie a drive, while tracking a robot renews the lock.
#include <climits>

#include "actua/actua.h"
#include "processa/processa.h"
#include "tavik/tavik.h"

namespace {

// Stronger shots while the robot can afford them.
double EnergiaTret() {
  if (robot.energy < 5) return 0.0;
  if (robot.energy < 10) return options[9];
  if (robot.energy < 30) return options[9] + (options[10] - options[9]) / 2;
  return options[10];
}

void Escombra(double angle) {
  DoSweep(6, options[1], angle - PI_30, angle + PI_30);
}

void Bloqueja(double distancia, double angle) {
  robot.shots_left = 5.0;
  robot.sweep_reversed = 0;
  robot.target_angle = angle;
  robot.target_distance = distancia;
  robot.misses = 0;
  Escombra(angle);
}

void Segueix(int tipus, double distancia, double angle) {
  if (tipus == 0) {
    Bloqueja(distancia, angle);
  } else if (tipus != 10 && robot.misses < INT_MAX) {  // saturates instead of overflowing
    ++robot.misses;
  }
}

void FixaObjectiu(double distancia, double angle) {
  DoPrint(" [+] ^^");
  robot.misses = 0;
  robot.target_angle = angle;
  robot.shots_left = 5.0;
  robot.mode = MODE_TRACKING;
  robot.target_distance = distancia;
  Escombra(angle);
  DoShoot(options[9]);  // the opening shot is not charged to the budget
}

// Turn the body towards the cookie, keep cannon and radar pointing where they were, and drive
// once the body's turn is over.
void VesAGaleta(double distancia, double angle) {
  PrintTime();
  DoPrint(" [i] Nyam!");
  if (!(options[0] > 0)) return;
  if (angle > DOS_PI - angle) angle -= DOS_PI;
  DoRotate(6, 0.0);
  DoRotateAmount(1, options[0], angle);
  DoRotateAmount(6, options[0], -angle);
  const double gir = angle > 0 ? angle : -angle;
  AfegeixMovimentFutur(robot.time + gir / options[0], distancia);
  robot.mode = MODE_APPROACHING;
}

}  // namespace

void ProcessaRadar(std::stringstream& ss) {
  // The type of the previous contact, for type 5; lives for the whole process, across games.
  static int ultim_tipo = 0;

  double distancia = 0, angle = 0;
  int tipus = 0;
  ss >> distancia >> tipus >> angle;

  if (robot.shots_left > 0.1) {
    DoShoot(EnergiaTret());
    robot.shots_left -= 0.5;
  }
  if (tipus == 5) tipus = ultim_tipo;
  ultim_tipo = tipus;
  angle = RedueixAngle(angle);

  if (robot.mode == MODE_TRACKING) {
    Segueix(tipus, distancia, angle);
  } else if (robot.mode == MODE_SCANNING) {
    if (tipus == 0) FixaObjectiu(distancia, angle);
    if (tipus == 3) VesAGaleta(distancia, angle);
  }
}
