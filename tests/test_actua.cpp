// Command writers: the exact line of every command, the number format, and the energy gate of
// the Shoot command.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "actua/actua.h"
#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

TEST_F(Robot, EveryWriterWritesItsOneLine) {
  robot.energy = 50;
  DoPrint(" [i] Nyam!");
  DoPrint("");
  DoName("Tavik");
  DoColour("0xffffff", "0xb0b0b0");
  DoOption(3, 1);
  DoRotate(6, 0.5);
  DoRotateTo(1, 2, -3.5);
  DoRotateAmount(1, 0.785398, -1.5707963267948966);
  DoSweep(6, 1.5708, 1.0 - 0.10471975511965977, 1.0 + 0.10471975511965977);
  DoAccelerate(0.5);
  DoBrake(1);
  DoShoot(2);
  DoDebug("x y");
  DoDebugLine(1, 2, 3, 4);
  DoDebugCircle(0.5, 0.25, 10);
  EXPECT_EQ(
      Capturades(),
      (Linies{"Print  [i] Nyam!", "Print ", "Name Tavik", "Colour 0xffffff 0xb0b0b0",
              "RobotOption 3 1", "Rotate 6 0.5", "RotateTo 1 2 -3.5",
              "RotateAmount 1 0.785398 -1.5708", "Sweep 6 1.5708 0.89528 1.10472", "Accelerate 0.5",
              "Brake 1", "Shoot 2", "Debug x y", "DebugLine 1 2 3 4", "DebugCircle 0.5 0.25 10"}));
}

std::string Format(double x) {
  std::string s;
  AfegeixNombre(s, x);
  return s;
}

TEST(Nombres, FollowTheGeneralFormatWithSixDigits) {
  const std::pair<double, const char*> casos[] = {{0, "0"},
                                                  {1, "1"},
                                                  {0.5, "0.5"},
                                                  {M_PI / 30, "0.10472"},
                                                  {2 * M_PI, "6.28319"},
                                                  {-3.14159265, "-3.14159"},
                                                  {100000, "100000"},
                                                  {1000000, "1e+06"},
                                                  {1234567, "1.23457e+06"},
                                                  {0.00001, "1e-05"},
                                                  {-0.0, "-0"},
                                                  {999999.5, "1e+06"},
                                                  {0.0001, "0.0001"},
                                                  {DBL_MAX, "1.79769e+308"},
                                                  {1e-320, "9.99989e-321"}};
  for (const auto& [valor, text] : casos) EXPECT_EQ(Format(valor), text) << valor;
}

TEST(Nombres, AgreeWithPrintfEverywhere) {
  std::mt19937_64 gen(7);
  std::uniform_int_distribution<uint64_t> bits;
  char esperat[64];
  for (int i = 0; i < 200000; ++i) {
    double x;
    const uint64_t b = bits(gen);
    std::memcpy(&x, &b, sizeof x);
    if (i % 2)
      x = std::ldexp(static_cast<double>(b % 2000000) - 1e6, static_cast<int>(b % 40) - 20);
    if (std::isnan(x)) continue;
    std::snprintf(esperat, sizeof esperat, "%g", x);
    ASSERT_EQ(Format(x), esperat) << std::hexfloat << x;
  }
}

TEST_F(Robot, IntegersAndNegativeZeroKeepTheirForm) {
  DoOption(1000000, -5);
  DoRotate(7, -0.0);
  EXPECT_EQ(Capturades(), (Linies{"RobotOption 1000000 -5", "Rotate 7 -0"}));
}

TEST_F(Robot, ShootNeedsMoreThanThreeEnergy) {
  for (double e : {0.0, 3.0, -10.0, double(NAN)}) {
    robot.energy = e;
    DoShoot(1);
  }
  EXPECT_TRUE(Capturades().empty());
  robot.energy = 3.0001;
  DoShoot(1);
  EXPECT_EQ(Capturades(), Linies{"Shoot 1"});
}

}  // namespace
