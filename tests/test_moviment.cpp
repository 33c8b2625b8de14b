// Motion planning and evasion: the drive's stop and brake release, the braking-time table, the
// flight after a collision, and that planning ends for any tick, acceleration and distance.
#include <cfloat>
#include <cmath>

#include "processa/processa.h"
#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

struct Ordre {
  double time;
  int kind;
  bool operator==(const Ordre& o) const { return time == o.time && kind == o.kind; }
};
std::ostream& operator<<(std::ostream& os, const Ordre& o) {
  return os << '{' << o.time << ',' << o.kind << '}';
}

std::vector<Ordre> Cua() {
  std::vector<Ordre> v;
  for (const auto& o : ordres) v.push_back({o.time, o.kind});
  return v;
}

TEST_F(Robot, DriveStopsOneTickAfterTheEstimatePassesTheDistance) {
  options[3] = 1;
  robot.tick = 1;
  AfegeixMovimentFutur(100, 10);
  EXPECT_EQ(Cua(), (std::vector<Ordre>{
                       {100, ORDER_ACCELERATE}, {105, ORDER_STOP}, {112.8, ORDER_RELEASE_BRAKE}}));
  EXPECT_EQ(ordres.front().value, 1);
  EXPECT_EQ(ordres.back().value, 1);

  ordres.clear();
  options[3] = 0.5;
  robot.tick = 0.25;
  AfegeixMovimentFutur(3, 0);
  EXPECT_EQ(Cua()[1], (Ordre{3.5, ORDER_STOP}));
}

TEST(Frenada, FirstStrictlyExceededRowWins) {
  const std::pair<double, double> casos[] = {{5.01, 4.0}, {5, 3.7}, {4, 3.3},  {3, 3.0},
                                             {2, 1.4},    {1, 1.0}, {-3, 1.0}, {NAN, 1.0}};
  for (const auto& [v, h] : casos) EXPECT_EQ(TempsFrenada(v), h) << v;
}

TEST_F(Robot, PlanningEndsForAnyInput) {
  const double ticks[] = {0, -1, 1e-300, 0.05, NAN, DBL_MAX};
  const double accels[] = {0, -2, 0.5, NAN, DBL_MAX};
  const double distancies[] = {-5, 0, 40, 1e300, DBL_MAX, NAN};
  for (double dt : ticks) {
    for (double a : accels) {
      for (double d : distancies) {
        ordres.clear();
        robot.tick = dt;
        options[3] = a;
        AfegeixMovimentFutur(1, d);
        EXPECT_TRUE(ordres.empty() || ordres.size() == 3u);
      }
    }
  }
  // A drive that can never reach its distance is not started.
  ordres.clear();
  robot.tick = 0;
  options[3] = 1;
  AfegeixMovimentFutur(1, 10);
  EXPECT_TRUE(ordres.empty());
  // Nor is one planned on a tick that went backwards (an Info whose time fell): the robot stays
  // approaching with nothing queued, and the next Info schedules the scan.
  robot.tick = -0.05;
  AfegeixMovimentFutur(1, 10);
  EXPECT_TRUE(ordres.empty());
  robot.mode = MODE_APPROACHING;
  Envia("Info 2 0 0");
  EXPECT_EQ(Cua(), (std::vector<Ordre>{{2 + robot.tick, ORDER_SCAN}}));
  ordres.clear();
  // One whose estimate is already past it stops after a tick, even without acceleration.
  options[3] = 0;
  robot.tick = 1;
  AfegeixMovimentFutur(1, -1);
  EXPECT_EQ(Cua()[1], (Ordre{3, ORDER_STOP}));
}

TEST_F(Robot, EvasionIsAFixedFlight) {
  options[3] = 0.7;
  robot.time = 50;
  AfegeixEvasio();
  EXPECT_EQ(Cua(), (std::vector<Ordre>{
                       {50, ORDER_ACCELERATE}, {51.5, ORDER_STOP}, {52.0, ORDER_RELEASE_BRAKE}}));
  EXPECT_EQ(ordres.front().value, 0.7);
}

TEST_F(Robot, CollisionWithRobotOrShotStartsTheEvasion) {
  options[0] = 0.785398;
  for (const char* linia : {"Collision 0 1.2", "Collision 1 -3"}) {
    Reinicia();
    options[0] = 0.785398;
    robot.mode = MODE_TRACKING;
    robot.time = 8;
    EXPECT_EQ(Envia(linia), (Linies{"Print  [i] Corre Vorlan!", "Rotate 7 -0.785398"}));
    EXPECT_EQ(robot.mode, MODE_EVADING);
    EXPECT_EQ(ordres.size(), 3u);
    EXPECT_EQ(Envia("Collision 0 1"), Linies{});  // already fleeing
    EXPECT_EQ(ordres.size(), 3u);
  }
  Reinicia();
  EXPECT_EQ(Envia("Collision 1 0"), (Linies{"Print  [i] Corre Vorlan!", "Rotate 7 -0"}));
}

TEST_F(Robot, OtherCollisionsAreIgnored) {
  for (int mode : {MODE_IDLE, MODE_SCANNING, MODE_APPROACHING, MODE_TRACKING}) {
    robot.mode = mode;
    for (const char* linia : {"Collision 2 0", "Collision 3 0", "Collision 4 1", "Collision 9 1"}) {
      EXPECT_EQ(Envia(linia), Linies{}) << linia;
    }
    EXPECT_EQ(robot.mode, mode);
  }
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Robot, CollisionDuringAnApproachMergesBothPlans) {
  options[3] = 1;
  robot.tick = 1;
  robot.time = 100;
  AfegeixMovimentFutur(100, 10);
  robot.mode = MODE_APPROACHING;
  Envia("Collision 0 0");
  EXPECT_EQ(Cua(), (std::vector<Ordre>{{100, ORDER_ACCELERATE},
                                       {100, ORDER_ACCELERATE},
                                       {101.5, ORDER_STOP},
                                       {102, ORDER_RELEASE_BRAKE},
                                       {105, ORDER_STOP},
                                       {112.8, ORDER_RELEASE_BRAKE}}));
}

}  // namespace
