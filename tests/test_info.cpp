// The order queue, the game start and the Info tick: one due order per tick, the scan schedule,
// angle reduction and the time-outs of a lost target.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "processa/processa.h"
#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

std::vector<double> Temps() {
  std::vector<double> t;
  for (const auto& o : ordres) t.push_back(o.time);
  return t;
}

void Posa(double temps, int kind, double valor = 0) {
  const t_ordre o{temps, kind, valor};
  insertar_ordre(&o);
}

TEST_F(Robot, QueueKeepsTimeOrderAndArrivalOrderForEqualTimes) {
  Posa(5, 0);
  Posa(3, 0);
  Posa(4, 0);
  EXPECT_EQ(Temps(), (std::vector<double>{3, 4, 5}));
  Posa(1, 0);
  Posa(9, 0);
  EXPECT_EQ(Temps(), (std::vector<double>{1, 3, 4, 5, 9}));

  ordres.clear();
  t_ordre o{2, ORDER_ACCELERATE, 1};  // one record reused, as the planners do
  insertar_ordre(&o);
  o.kind = ORDER_STOP;
  insertar_ordre(&o);
  o.kind = ORDER_RELEASE_BRAKE;
  o.value = 7;
  insertar_ordre(&o);
  Posa(NAN, ORDER_SCAN);
  Posa(0, ORDER_SCAN);
  std::vector<int> kinds;
  for (const auto& q : ordres) kinds.push_back(q.kind);
  EXPECT_EQ(kinds, (std::vector<int>{ORDER_SCAN, ORDER_ACCELERATE, ORDER_STOP, ORDER_RELEASE_BRAKE,
                                     ORDER_SCAN}));
  EXPECT_EQ(std::next(ordres.begin())->value, 1);
  EXPECT_TRUE(std::isnan(ordres.back().time));
}

TEST_F(Robot, GameStartsClearsTheRecordAndQueueButKeepsOptions) {
  robot = t_robot{9, 9, 9, 9, 9, 9, MODE_TRACKING, 1, 9, 9, 1, 9, 9};
  options[1] = 2;
  Posa(1, ORDER_STOP);
  EXPECT_EQ(Envia("GameStarts"), Linies{});
  // Every field, one by one: the record's padding says nothing.
  const t_robot& r = robot;
  for (double camp : {r.energy, r.enemy_energy, r.tick, r.time, r.speed, r.cannon_angle,
                      r.target_distance, r.target_angle, r.shots_left}) {
    EXPECT_EQ(camp, 0);
  }
  for (int camp : {r.mode, static_cast<int>(r.exit_requested), r.sweep_reversed, r.misses}) {
    EXPECT_EQ(camp, 0);
  }
  EXPECT_TRUE(ordres.empty());
  EXPECT_EQ(options[1], 2);
}

TEST_F(Robot, FirstScanOfAGame) {
  options[1] = 1.5;
  options[2] = 0.75;
  Envia("GameStarts");
  EXPECT_EQ(Envia("Info 0.5 0 0"), Linies{});
  EXPECT_EQ(robot.tick, 0.5);
  EXPECT_EQ(Temps(), std::vector<double>{1.0});
  EXPECT_EQ(Envia("Info 1.0 0 0"), Linies{});  // due at 1.0 is not yet strictly past
  EXPECT_EQ(Envia("Info 1.5 0 0"), Linies{"Rotate 6 0.75"});
  EXPECT_EQ(robot.mode, MODE_SCANNING);
  EXPECT_TRUE(ordres.empty());
  EXPECT_EQ(Envia("Info 2.0 0 0"), Linies{});
  EXPECT_EQ(Envia("Info 2.5 0 0"), Linies{});
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Robot, ScanSpeedIsTheSmallerOption) {
  options[1] = 0.5;
  options[2] = 2;
  Envia("Info 0 0 0");  // tick 0: the scan is due at 0, the next Info carries it out
  EXPECT_EQ(Temps(), std::vector<double>{0});
  EXPECT_EQ(Envia("Info 0.1 0 0"), Linies{"Rotate 6 0.5"});
  options[1] = NAN;
  Posa(0, ORDER_SCAN);
  EXPECT_EQ(Envia("Info 0.2 0 0"), Linies{"Rotate 6 2"});
}

TEST(Angles, ReductionTakesWholeTurnsAboveTwoPi) {
  EXPECT_DOUBLE_EQ(RedueixAngle(7.0), 7.0 - DOS_PI);
  EXPECT_DOUBLE_EQ(RedueixAngle(13.0), 13.0 - DOS_PI - DOS_PI);
  EXPECT_EQ(RedueixAngle(DOS_PI), DOS_PI);
  EXPECT_EQ(RedueixAngle(-1.0), -1.0);
  EXPECT_EQ(RedueixAngle(-1e300), -1e300);
  EXPECT_TRUE(std::isnan(RedueixAngle(NAN)));
  // Bit for bit what repeated subtraction gives, for angles of up to hundreds of turns.
  for (double x = 0; x < 700 * DOS_PI; x += 0.37) {
    double y = x;
    while (y > DOS_PI) y -= DOS_PI;
    ASSERT_EQ(RedueixAngle(x), y) << x;
  }
  // An infinite angle, which no subtraction brings down, is taken as 0.
  EXPECT_EQ(RedueixAngle(INFINITY), 0.0);
  // Huge and infinite angles end, inside one turn.
  for (double x : {1e17, 1e300, DBL_MAX, double(INFINITY)}) {
    const double r = RedueixAngle(x);
    EXPECT_GE(r, 0) << x;
    EXPECT_LE(r, DOS_PI) << x;
  }
}

TEST_F(Robot, InfoStoresReducedAngleAndTick) {
  Envia("Info 4 2.5 7");
  EXPECT_EQ(robot.speed, 2.5);
  EXPECT_DOUBLE_EQ(robot.cannon_angle, 7 - DOS_PI);
  Envia("Info 4.25 0 13");
  EXPECT_EQ(robot.tick, 0.25);
  EXPECT_EQ(robot.time, 4.25);
  EXPECT_DOUBLE_EQ(robot.cannon_angle, 13 - 2 * DOS_PI);
}

TEST_F(Robot, OneDueOrderPerInfo) {
  options[1] = options[2] = 1;
  Posa(1, ORDER_ACCELERATE, 0.5);
  Posa(1, ORDER_STOP);
  Posa(1, ORDER_RELEASE_BRAKE);
  Posa(1, 2);  // an unknown kind is dropped silently
  robot.mode = MODE_EVADING;
  EXPECT_EQ(Envia("Info 5 0 0"), Linies{"Accelerate 0.5"});
  EXPECT_EQ(Envia("Info 6 0 0"), (Linies{"Rotate 1 0", "Accelerate 0", "Brake 1", "Rotate 6 1"}));
  EXPECT_EQ(robot.mode, MODE_SCANNING);
  EXPECT_EQ(Envia("Info 7 0 0"), Linies{"Brake 0"});
  EXPECT_EQ(Envia("Info 8 0 0"), Linies{});
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Robot, StopEndsAnApproachToo) {
  robot.mode = MODE_APPROACHING;
  Posa(1, ORDER_STOP);
  EXPECT_EQ(Envia("Info 2 0 0").size(), 4u);
  EXPECT_EQ(robot.mode, MODE_SCANNING);
}

TEST_F(Robot, ScanIsQueuedOnlyIntoAnEmptyQueueOutsideScanAndTrack) {
  Posa(100, ORDER_RELEASE_BRAKE);
  Envia("Info 1 0 0");
  Envia("Info 2 0 0");
  EXPECT_EQ(ordres.size(), 1u);
  ordres.clear();
  Envia("Info 3 0 0");
  Envia("Info 4 0 0");
  EXPECT_EQ(Temps(), std::vector<double>{4});  // the first scan is waiting: no second one
  for (int mode : {MODE_SCANNING, MODE_TRACKING}) {
    ordres.clear();
    robot.mode = mode;
    EXPECT_EQ(Envia("Info 5 0 0"), Linies{});
    EXPECT_TRUE(ordres.empty());
  }
}

TEST_F(Robot, LostTargetSearchTurnThenTimeOut) {
  options[1] = 2;
  robot.mode = MODE_TRACKING;
  robot.target_angle = 1.0;
  robot.misses = 20;
  EXPECT_EQ(Envia("Info 1 0 1.5"), Linies{});
  robot.misses = 21;
  EXPECT_EQ(Envia("Info 2 0 1.5"), Linies{"Rotate 6 -2"});  // cannon past the target: back
  EXPECT_EQ(robot.sweep_reversed, 1);
  for (int m = 22; m <= 40; ++m) {
    robot.misses = m;
    EXPECT_EQ(Envia("Info 3 0 0"), Linies{});
  }
  EXPECT_EQ(robot.mode, MODE_TRACKING);
  robot.misses = 41;
  EXPECT_EQ(Envia("Info 4 0 0"), Linies{});
  EXPECT_EQ(robot.mode, MODE_IDLE);

  robot.mode = MODE_TRACKING;
  robot.sweep_reversed = 0;
  robot.misses = 30;
  EXPECT_EQ(Envia("Info 5 0 1"), Linies{"Rotate 6 2"});  // equal angles turn positive
}

TEST_F(Robot, AnInfoThatCarriesOutAnOrderSkipsTheTimeOuts) {
  robot.mode = MODE_TRACKING;
  robot.misses = 50;
  Posa(0, ORDER_RELEASE_BRAKE);
  EXPECT_EQ(Envia("Info 1 0 0"), Linies{"Brake 0"});
  EXPECT_EQ(robot.mode, MODE_TRACKING);
  EXPECT_EQ(Envia("Info 2 0 0"), Linies{});
  EXPECT_EQ(robot.mode, MODE_IDLE);
  EXPECT_TRUE(ordres.empty());
  Envia("Info 3 0 0");
  EXPECT_EQ(Temps(), std::vector<double>{4});
}

}  // namespace
