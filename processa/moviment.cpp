// Motion planning: a drive is planned as timed orders (accelerate, stop and brake, release the
// brake), and a collision with a robot or a shot starts a spin and a short fixed flight.
#include "actua/actua.h"
#include "processa/processa.h"
#include "tavik/tavik.h"

// Longest drive, in ticks, that is planned. Real drives take a few hundred ticks; the bound only
// keeps absurd inputs (a vanishing tick, a huge distance) from stalling the robot.
constexpr long MAX_PASSOS = 100000;

double TempsFrenada(double v) {
  if (v > 5) return 4.0;
  if (v > 4) return 3.7;
  if (v > 3) return 3.3;
  if (v > 2) return 3.0;
  if (v > 1) return 1.4;
  return 1.0;  // also when v is not a number
}

void AfegeixMovimentFutur(double inici, double distancia) {
  const double a = options[3];
  const double dt = robot.tick;
  // Step through the acceleration phase one tick at a time until what is covered while
  // accelerating plus the estimated braking distance passes the distance to go.
  double t = dt;
  double h = 1.0;
  for (long pas = 1;; ++pas) {
    const double v = a * t;
    const double s = a * t * t / 2;
    const double r = v / -2.5;
    h = TempsFrenada(v);
    if (s + v * h + r * h * h / 2 > distancia) break;
    // Without a positive tick and acceleration the estimate never grows: such a drive, or one
    // longer than the bound, is not started at all.
    if (!(dt > 0 && a > 0) || pas >= MAX_PASSOS) return;
    t = t + dt;
  }
  t = t + dt;  // stop one tick after the estimate first passes the distance

  t_ordre ordre{inici, ORDER_ACCELERATE, a};
  insertar_ordre(&ordre);
  ordre.time = inici + t;
  ordre.kind = ORDER_STOP;
  insertar_ordre(&ordre);
  ordre.time = inici + t + h + 4.5;
  ordre.kind = ORDER_RELEASE_BRAKE;
  insertar_ordre(&ordre);
}

void AfegeixEvasio() {
  const double t = robot.time;
  t_ordre ordre{t, ORDER_ACCELERATE, options[3]};
  insertar_ordre(&ordre);
  ordre.time = t + 1.5;
  ordre.kind = ORDER_STOP;
  insertar_ordre(&ordre);
  ordre.time = (t + 1.5) + 0.5;
  ordre.kind = ORDER_RELEASE_BRAKE;
  insertar_ordre(&ordre);
}

void ProcessaCollision(std::stringstream& ss) {
  int tipus = 0;
  double angle = 0;  // read to consume the field; the flight does not depend on it
  ss >> tipus >> angle;
  if ((tipus == 0 || tipus == 1) && robot.mode != MODE_EVADING) {
    DoPrint(" [i] Corre Vorlan!");
    DoRotate(7, -options[0]);
    AfegeixEvasio();
    robot.mode = MODE_EVADING;
  }
}
