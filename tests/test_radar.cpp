// Radar reaction: lock-on and renewed lock, the ten-shot budget and its energy thresholds,
// misses while tracking, the remembered object type, and the turn and drive to a cookie.
#include <cfloat>
#include <climits>
#include <cmath>

#include "processa/processa.h"
#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

class Radar : public Robot {
 protected:
  void SetUp() override {
    Robot::SetUp();
    options[0] = 0.5;
    options[1] = 1.5;
    options[9] = 1;
    options[10] = 3;
    robot.energy = 50;
    robot.mode = MODE_SCANNING;
  }
};

TEST_F(Radar, LockOnFromScanning) {
  EXPECT_EQ(Envia("Radar 12.5 0 1.0"),
            (Linies{"Print  [+] ^^", "Sweep 6 1.5 0.89528 1.10472", "Shoot 1"}));
  EXPECT_EQ(robot.mode, MODE_TRACKING);
  EXPECT_EQ(robot.shots_left, 5.0);
  EXPECT_EQ(robot.misses, 0);
  EXPECT_EQ(robot.target_angle, 1.0);
  EXPECT_EQ(robot.target_distance, 12.5);
}

TEST_F(Radar, BudgetIsExactlyTenShots) {
  Envia("Radar 10 0 1");
  int trets = 0;
  for (int i = 0; i < 11; ++i) {
    for (const auto& l : Envia(i % 2 ? "Radar 5 2 0" : "Radar 5 10 0")) trets += l == "Shoot 3";
  }
  EXPECT_EQ(trets, 10);
  EXPECT_EQ(Envia("Radar 5 2 0"), Linies{});
  // Every robot contact while tracking fires first, then renews the budget and the sweep.
  robot.shots_left = 5.0;
  EXPECT_EQ(Envia("Radar 9 0 2"), (Linies{"Shoot 3", "Sweep 6 1.5 1.89528 2.10472"}));
  EXPECT_EQ(robot.shots_left, 5.0);
  EXPECT_EQ(robot.target_distance, 9);
}

TEST_F(Radar, ShotEnergyFollowsOwnEnergy) {
  const std::pair<double, const char*> casos[] = {
      {4.99, "Shoot 0"}, {5, "Shoot 1"},  {9.99, "Shoot 1"}, {10, "Shoot 2"},
      {29.9, "Shoot 2"}, {30, "Shoot 3"}, {NAN, nullptr}};
  robot.mode = MODE_IDLE;  // the budget is spent in every mode
  for (const auto& [energia, tret] : casos) {
    robot.energy = energia;
    robot.shots_left = 5;
    const Linies esperat = tret ? Linies{tret} : Linies{};
    EXPECT_EQ(Envia("Radar 5 2 0"), esperat) << energia;
    EXPECT_EQ(robot.shots_left, 4.5);  // charged even when nothing went out
  }
}

TEST_F(Radar, MissesWhileTracking) {
  Envia("Radar 10 0 1");
  robot.shots_left = 0;
  for (const char* linia :
       {"Radar 5 1 0", "Radar 5 2 0", "Radar 5 3 0", "Radar 5 4 0", "Radar 5 7 0", "Radar 5 5 0"}) {
    Envia(linia);
  }
  EXPECT_EQ(robot.misses, 6);  // the 5 stood for the 7 before it
  Envia("Radar 5 3 0");
  Envia("Radar 5 5 0");
  EXPECT_EQ(robot.misses, 8);  // a 5 standing for a cookie is a miss too
  Envia("Radar 5 10 0");
  EXPECT_EQ(robot.misses, 8);
  EXPECT_EQ(Envia("Radar 5 5 0"), Linies{});  // the 5 after a 10 stands for 10
  EXPECT_EQ(robot.misses, 8);
  robot.sweep_reversed = 1;
  Envia("Radar 5 0 0");
  EXPECT_EQ(Envia("Radar 7 5 0.5").back(), "Sweep 6 1.5 0.39528 0.60472");
  EXPECT_EQ(robot.misses, 0);
  EXPECT_EQ(robot.sweep_reversed, 0);
  robot.misses = INT_MAX;
  Envia("Radar 5 2 0");
  EXPECT_EQ(robot.misses, INT_MAX);
}

TEST_F(Radar, LockOnKeepsTheSearchFlagAndReducesTheAngle) {
  robot.sweep_reversed = 1;
  Envia("Radar 10 0 7.0");
  EXPECT_EQ(robot.sweep_reversed, 1);
  EXPECT_DOUBLE_EQ(robot.target_angle, 7.0 - DOS_PI);
  robot.mode = MODE_SCANNING;
  Envia("Radar 10 0 -1");
  EXPECT_EQ(robot.target_angle, -1.0);
}

TEST_F(Radar, CookieTurnsTheBodyAndPlansTheDrive) {
  options[3] = 1;
  Envia("Info 10 0 0");
  Envia("Info 11 0 0");
  robot.mode = MODE_SCANNING;
  ordres.clear();
  EXPECT_EQ(Envia("Radar 10 3 4.71238898038469"),
            (Linies{"Print TIME [11]", "Print  [i] Nyam!", "Rotate 6 0",
                    "RotateAmount 1 0.5 -1.5708", "RotateAmount 6 0.5 1.5708"}));
  EXPECT_EQ(robot.mode, MODE_APPROACHING);
  ASSERT_EQ(ordres.size(), 3u);
  EXPECT_DOUBLE_EQ(ordres.front().time, 11 + M_PI / 2 / 0.5);
  EXPECT_EQ(ordres.front().kind, ORDER_ACCELERATE);

  robot.mode = MODE_SCANNING;
  EXPECT_EQ(Envia("Radar 10 3 3.141592653589793")[3], "RotateAmount 1 0.5 3.14159");
}

TEST_F(Radar, CookieWithoutTurnSpeedIsOnlyAnnounced) {
  options[0] = 0;
  EXPECT_EQ(Envia("Radar 10 3 1"), (Linies{"Print TIME [0]", "Print  [i] Nyam!"}));
  EXPECT_EQ(robot.mode, MODE_SCANNING);
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Radar, TheRememberedTypeOutlivesTheGame) {
  Envia("Radar 10 0 1");
  Envia("GameStarts");
  robot.mode = MODE_SCANNING;
  EXPECT_EQ(Envia("Radar 10 5 1").front(), "Print  [+] ^^");  // the 5 still stands for a robot
  Envia("Radar 10 3 1");
  Envia("GameStarts");
  robot.mode = MODE_SCANNING;
  EXPECT_EQ(Envia("Radar 10 5 1").at(1), "Print  [i] Nyam!");  // and now for a cookie
}

TEST_F(Radar, OtherModesOnlySpendTheBudget) {
  for (int mode : {MODE_APPROACHING, MODE_EVADING, MODE_IDLE}) {
    robot.mode = mode;
    robot.shots_left = 1;
    EXPECT_EQ(Envia("Radar 10 0 1"), Linies{"Shoot 3"});
    EXPECT_EQ(Envia("Radar 10 3 1"), Linies{"Shoot 3"});
    EXPECT_EQ(robot.mode, mode);
  }
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Radar, UnreadableFieldsStillGiveDefinedContacts) {
  // A missing type reads as 0, a robot contact at distance and angle 0.
  EXPECT_EQ(Envia("Radar 1e400 3 1").front(), "Print  [+] ^^");
  EXPECT_EQ(robot.target_distance, DBL_MAX);
  EXPECT_EQ(robot.target_angle, 0);
}

}  // namespace
