// Robot state and game options: the bookkeeping handlers, the time report, and how fields that
// are missing, unreadable or out of range are read.
#include <cfloat>
#include <cstring>

#include "processa/processa.h"
#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

TEST_F(Robot, InitializeNamesTheRobotOnlyWhenAsked) {
  EXPECT_EQ(Envia("Initialize 0"), Linies{});
  EXPECT_EQ(Envia("Initialize"), Linies{});
  const Linies nom = {"Name Tavik", "Colour 0xffffff 0xb0b0b0"};
  EXPECT_EQ(Envia("Initialize 1"), nom);
  EXPECT_EQ(Envia("Initialize -3"), nom);
}

TEST_F(Robot, GameOptionsInRangeAreStoredOthersReported) {
  EXPECT_EQ(Envia("GameOption 14 2.5"), Linies{});
  EXPECT_EQ(options[14], 2.5);
  EXPECT_EQ(Envia("GameOption 0 1,25"), Linies{});
  EXPECT_EQ(options[0], 1.25);
  for (const char* fora : {"GameOption 15 9", "GameOption -1 9", "GameOption 99999999999 9"}) {
    EXPECT_EQ(Envia(fora), Linies{"Print UNKNOWN OPTION!!"}) << fora;
  }
  EXPECT_EQ(options[14], 2.5);
  EXPECT_EQ(options[0], 1.25);
  Envia("GameStarts");
  EXPECT_EQ(options[14], 2.5);
}

TEST_F(Robot, EnergyEnemyEnergyAndDeath) {
  Envia("Energy 50");
  EXPECT_EQ(robot.energy, 50);
  Envia("GameStarts");
  EXPECT_EQ(robot.energy, 0);
  // The energy of the last game does not pay for shots in the next: no Shoot until an Energy
  // above 3 comes.
  options[9] = 1;
  robot.mode = MODE_SCANNING;
  EXPECT_EQ(Envia("Radar 10 0 1"), (Linies{"Print  [+] ^^", "Sweep 6 0 0.89528 1.10472"}));
  Envia("Energy 3");
  EXPECT_EQ(Envia("Radar 10 0 1"), Linies{"Sweep 6 0 0.89528 1.10472"});
  Envia("Energy 3.5");
  EXPECT_EQ(Envia("Radar 10 0 1"), (Linies{"Shoot 0", "Sweep 6 0 0.89528 1.10472"}));
  Envia("GameStarts");
  robot.mode = MODE_TRACKING;
  const t_ordre o{3, ORDER_STOP, 0};
  insertar_ordre(&o);
  Envia("RobotInfo 80 1");
  EXPECT_EQ(robot.enemy_energy, 80);
  EXPECT_EQ(Envia("Dead"), Linies{"Print :'("});
  EXPECT_EQ(robot.mode, MODE_TRACKING);
  EXPECT_EQ(ordres.size(), 1u);
}

TEST_F(Robot, SilentHandlersChangeNothing) {
  robot.energy = 12;
  robot.mode = MODE_SCANNING;
  options[4] = 3;
  t_robot abans = robot;
  for (const char* linia : {"YourName Tavik", "YourColour ff0000", "Coordinates 1 2 3",
                            "RotationReached 1", "RobotsLeft 3", "Warning 1 bad", "GameFinishes"}) {
    EXPECT_EQ(Envia(linia), Linies{}) << linia;
  }
  EXPECT_EQ(std::memcmp(static_cast<void*>(&abans), static_cast<void*>(&robot), sizeof robot), 0);
  EXPECT_EQ(options[4], 3);
  EXPECT_TRUE(ordres.empty());
}

TEST_F(Robot, ExitRobotRaisesTheFlag) {
  Envia("ExitRobot");
  EXPECT_EQ(robot.exit_requested, 1);
  EXPECT_EQ(Envia("Dead"), Linies{"Print :'("});  // later lines are still handled
}

TEST_F(Robot, TimeReport) {
  Envia("Info 12.5 0 0");
  Capturades().clear();
  PrintTime();
  EXPECT_EQ(Capturades(), Linies{"Print TIME [12.5]"});
}

TEST_F(Robot, UnreadableFieldsLeaveZero) {
  Envia("Energy 40");
  for (const char* linia : {"Energy", "Energy nan", "Energy inf", "Energy abc", "Energy -"}) {
    Envia("Energy 40");
    Envia(linia);
    EXPECT_EQ(robot.energy, 0) << linia;
  }
  Envia("Energy 7 8 9");  // extra fields are ignored
  EXPECT_EQ(robot.energy, 7);
  // An overflowing number reads as the largest double and fails the line's later fields.
  Envia("Info 1e400 5 6");
  EXPECT_EQ(robot.time, DBL_MAX);
  EXPECT_EQ(robot.speed, 0);
  EXPECT_EQ(robot.cannon_angle, 0);
  Envia("GameOption 3 -1e400");
  EXPECT_EQ(options[3], -DBL_MAX);
  // A missing option value stores 0, as an unreadable one does: never an old or made-up value.
  for (const char* linia : {"GameOption 3", "GameOption 3 abc"}) {
    options[3] = 5;
    Envia(linia);
    EXPECT_EQ(options[3], 0) << linia;
  }
  Envia("RobotInfo 1e999 7");
  EXPECT_EQ(robot.enemy_energy, DBL_MAX);
}

}  // namespace
