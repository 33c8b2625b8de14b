// The game clock: every Info brings time, speed and cannon angle up to date, carries out at
// most one due order, schedules the scan when nothing is planned and times out a lost target.
#include <cmath>
#include <cstring>

#include "actua/actua.h"
#include "processa/processa.h"
#include "tavik/tavik.h"

// Repeated subtraction is kept for this many turns, far more than any angle an arena reports;
// past them (a huge angle from which 2π can no longer be subtracted, or an infinite one, which
// no subtraction brings down) the remainder is taken at once so the reduction always ends.
constexpr int MAX_VOLTES = 1000;

double RedueixAngle(double angle) {
  for (int i = 0; i < MAX_VOLTES && angle > DOS_PI; ++i) angle -= DOS_PI;
  if (angle > DOS_PI) angle = std::isinf(angle) ? 0.0 : std::fmod(angle, DOS_PI);
  return angle;
}

namespace {

// Cannon and radar spin together at the slower of the two scan speeds.
void Escaneja() {
  const double s = options[2] > options[1] ? options[1] : options[2];
  DoRotate(6, s);
  robot.mode = MODE_SCANNING;
}

void ExecutaOrdre(const t_ordre& ordre) {
  switch (ordre.kind) {
    case ORDER_SCAN:
      Escaneja();
      break;
    case ORDER_ACCELERATE:
      DoAccelerate(ordre.value);
      break;
    case ORDER_STOP:
      DoRotate(1, 0.0);
      DoAccelerate(0.0);
      DoBrake(1.0);
      Escaneja();
      break;
    case ORDER_RELEASE_BRAKE:
      DoBrake(0.0);
      break;
    default:
      break;  // unknown kinds are dropped without effect
  }
}

// After 20 misses the sweep has lost the target: turn once towards where it was last seen.
// After 40 it is given up.
void TempsEsgotat() {
  if (robot.mode != MODE_TRACKING) return;
  if (robot.misses > 40) {
    robot.mode = MODE_IDLE;
  } else if (robot.sweep_reversed == 0 && robot.misses > 20) {
    const double signe = robot.cannon_angle > robot.target_angle ? -1.0 : 1.0;
    robot.sweep_reversed = 1;
    DoRotate(6, options[1] * signe);
  }
}

}  // namespace

void ProcessaGameStarts(std::stringstream&) {
  std::memset(static_cast<void*>(&robot), 0, sizeof robot);
  ordres.clear();
  robot.mode = MODE_IDLE;
}

void ProcessaInfo(std::stringstream& ss) {
  double t = 0, v = 0, a = 0;
  ss >> t >> v >> a;
  a = RedueixAngle(a);
  robot.speed = v;
  robot.cannon_angle = a;
  robot.tick = t - robot.time;
  robot.time = t;

  if (!ordres.empty()) {
    // Strictly later: an order due exactly now waits for the next Info.
    if (t > ordres.front().time) {
      ExecutaOrdre(ordres.front());
      ordres.pop_front();
      return;
    }
  } else if (robot.mode != MODE_SCANNING && robot.mode != MODE_TRACKING) {
    const t_ordre escaneig{robot.time + robot.tick, ORDER_SCAN, 0.0};
    insertar_ordre(&escaneig);
  }
  TempsEsgotat();
}
