// Physics of the practice arena: what the radar ray and sweep hit, how parts turn within their
// limits, and what collisions with walls, robots, cookies, mines and shots do.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "arena/fisica.h"

using namespace arena;

namespace {

t_mon Mon(std::vector<t_cos_robot> robots) {
  t_mon m;
  OpcionsPerDefecte(m.opcions);
  for (auto& r : robots) {
    r.energia = 100;
    r.radar_abans = r.rumb + r.radar;
  }
  m.robots = robots;
  return m;
}

t_cos_robot A(double x, double y, double rumb = 0) {
  t_cos_robot r;
  r.x = x, r.y = y, r.rumb = rumb;
  return r;
}

// An event as the robot is told it.
std::string Dit(const t_event& e) {
  return std::visit([](const auto& m) { return Linia(t_missatge_arena{m}); }, e.que);
}

std::vector<t_event> Passa(t_mon& m, int ticks = 1, double dt = 0.05) {
  std::vector<t_event> e;
  for (int i = 0; i < ticks; ++i) Avanca(m, dt, e);
  return e;
}

TEST(Raig, HitsTheNearestObjectOrTheWall) {
  t_mon m = Mon({A(10, 15), A(20, 15)});
  EXPECT_DOUBLE_EQ(DistanciaParet(m, 10, 15, 0), 30);
  EXPECT_DOUBLE_EQ(DistanciaParet(m, 10, 15, M_PI / 2), 15);
  EXPECT_NEAR(DistanciaParet(m, 10, 15, M_PI), 10, 1e-9);
  EXPECT_NEAR(DistanciaParet(m, 10, 10, M_PI / 4), 20 * std::sqrt(2.0), 1e-9);

  t_impacte v = Radar(m, 0);
  EXPECT_EQ(v.tipus, OBJ_ROBOT);
  EXPECT_EQ(v.index, 1);
  EXPECT_NEAR(v.distancia, 9.5, 1e-9);
  m.objectes = {{15, 15, OBJ_GALETA}, {13, 15, OBJ_MINA}};
  v = Radar(m, 0);
  EXPECT_EQ(v.tipus, OBJ_MINA);
  EXPECT_NEAR(v.distancia, 3 - RADI_OBJECTE, 1e-9);
  m.trets = {{12, 15, 0, 0, 1, 1}};
  EXPECT_EQ(Radar(m, 0).tipus, OBJ_TRET);
  m.robots[0].radar = M_PI / 2;  // a ray that misses everything ends at the wall
  m.robots[0].radar_abans = M_PI / 2;
  v = Radar(m, 0);
  EXPECT_EQ(v.tipus, OBJ_PARET);
  EXPECT_DOUBLE_EQ(v.distancia, 15);
}

TEST(Raig, TheSweptArcCatchesWhatTheBeamPassedOver) {
  t_mon m = Mon({A(10, 15), A(30, 16)});
  const double marcacio = std::atan2(1, 20);
  m.robots[0].radar_abans = marcacio - 0.2;  // the beam turned across the target this tick
  m.robots[0].radar = marcacio + 0.2;
  EXPECT_EQ(Radar(m, 0).tipus, OBJ_ROBOT);
  m.robots[0].radar_abans = marcacio + 0.1;  // and here it stayed clear of it
  EXPECT_EQ(Radar(m, 0).tipus, OBJ_PARET);
}

TEST(Gir, PartsTurnNoFasterThanTheirLimits) {
  t_mon m = Mon({A(20, 15)});
  Ordena(m, 0, t_gira{7, 10});
  Passa(m, 20);  // one second
  EXPECT_NEAR(m.robots[0].rumb, m.opcions[OPT_GIR_COS], 1e-9);
  EXPECT_NEAR(m.robots[0].canyo, m.opcions[OPT_GIR_CANYO], 1e-9);
  EXPECT_NEAR(m.robots[0].radar, m.opcions[OPT_GIR_RADAR], 1e-9);
  Ordena(m, 0, t_gira{7, 0});
  Passa(m, 5);
  EXPECT_NEAR(m.robots[0].rumb, m.opcions[OPT_GIR_COS], 1e-9);
}

TEST(Gir, AmountsCompleteAndAreReported) {
  t_mon m = Mon({A(20, 15)});
  Ordena(m, 0, t_gira_quant{PART_COS, 0.5, 0.1});
  Ordena(m, 0, t_gira_quant{PART_CANYO | PART_RADAR, 0.5, -0.1});
  const auto e = Passa(m, 4);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(Dit(e[0]), "RotationReached 7");
  EXPECT_NEAR(m.robots[0].rumb, 0.1, 1e-12);
  // The body turned one way and cannon and radar the other: they point where they did.
  EXPECT_NEAR(m.robots[0].rumb + m.robots[0].canyo, 0, 1e-12);
  EXPECT_NEAR(m.robots[0].rumb + m.robots[0].radar, 0, 1e-12);
  Ordena(m, 0, t_gira_fins{PART_COS, 0.785398, 6.0});  // the short way: backwards
  Passa(m, 40);
  EXPECT_NEAR(Normal(m.robots[0].rumb), 6.0, 1e-9);
  EXPECT_LT(m.robots[0].rumb, 0.1);
  // A turn whose last step is exactly what is left completes with that step (an eighth of a
  // radian a tick: exact).
  m = Mon({A(20, 15)});
  Ordena(m, 0, t_gira_quant{PART_COS, 0.5, 0.25});
  EXPECT_TRUE(Passa(m, 1, 0.25).empty());
  const auto acabat = Passa(m, 1, 0.25);
  ASSERT_EQ(acabat.size(), 1u);
  EXPECT_EQ(Dit(acabat[0]), "RotationReached 1");
  // An angle is told from 0 up to a whole turn: a hair below 0 is 0, not a whole turn.
  EXPECT_EQ(Normal(-1e-17), 0);
  EXPECT_EQ(Normal(-DOS_PI), 0);
  EXPECT_EQ(Normal(NAN), 0);
}

TEST(Gir, SweepsSwingBetweenTheirBounds) {
  t_mon m = Mon({A(20, 15)});
  m.robots[0].radar = m.robots[0].canyo = 1.0;
  Ordena(m, 0, t_escombra{PART_CANYO | PART_RADAR, 1.5708, 0.9, 1.1});
  double lo = 9, hi = -9;
  for (int i = 0; i < 100; ++i) {
    Passa(m);
    lo = std::min(lo, m.robots[0].radar);
    hi = std::max(hi, m.robots[0].radar);
  }
  EXPECT_NEAR(lo, 0.9, 1e-9);
  EXPECT_NEAR(hi, 1.1, 1e-9);
  // A part outside its bounds turns back into them at its speed, from above or from below,
  // stops on the bound it reaches, and swings between them from there.
  for (const double desde : {2.0, 0.2}) {
    m.robots[0].radar = desde;
    Ordena(m, 0, t_escombra{PART_RADAR, 1.5708, 0.9, 1.1});
    EXPECT_TRUE(Passa(m).empty()) << desde;  // a sweep has no end to report
    EXPECT_NEAR(std::fabs(m.robots[0].radar - desde), 1.5708 * 0.05, 1e-9) << desde;
    EXPECT_LT(std::fabs(m.robots[0].radar - 1), std::fabs(desde - 1)) << desde;
    Passa(m, desde > 1 ? 11 : 8);  // 0.9 and 0.7 away: 12 and 9 ticks in all
    EXPECT_NEAR(m.robots[0].radar, desde > 1 ? 1.1 : 0.9, 1e-9) << desde;
    Passa(m, 2);
    EXPECT_NEAR(m.robots[0].radar, desde > 1 ? 1.1 - 2 * 1.5708 * 0.05 : 0.9 + 2 * 1.5708 * 0.05,
                1e-9)
        << desde;
  }
  // A part that lands exactly on a bound turns back from it on the next tick, as from a bound
  // it would pass, and at either bound alike; recorded games rely on it (a sixteenth of a
  // radian a tick, exact in binary: four ticks to a bound).
  m.robots[0].radar = 0;
  Ordena(m, 0, t_escombra{PART_RADAR, 1.25, -0.25, 0.25});
  for (const int pas : {1, 2, 3, 4, 4, 3, 2, 1, 0, -1, -2, -3, -4, -4, -3}) {
    Passa(m);
    EXPECT_EQ(m.robots[0].radar, pas * 0.0625) << pas;
  }
  // Bounds given a turn away are taken near the part's angle, never as a jump.
  Ordena(m, 0, t_escombra{PART_RADAR, 1, 7.2, 7.4});
  const double antes = m.robots[0].radar;
  Passa(m);
  EXPECT_LE(std::fabs(m.robots[0].radar - antes), 1 * 0.05 + 1e-12);
}

TEST(Moviment, AccelerationAndBrakeWithinLimits) {
  t_mon m = Mon({A(20, 15)});
  Ordena(m, 0, t_accelera{50});
  EXPECT_EQ(m.robots[0].accel, m.opcions[OPT_ACCEL_MAX]);
  Passa(m, 20);
  EXPECT_GT(m.robots[0].vel, 0.8);
  EXPECT_LT(m.robots[0].vel, 1.0);
  EXPECT_GT(m.robots[0].x, 20.3);
  Ordena(m, 0, t_accelera{0});
  Ordena(m, 0, t_frena{5});  // a brake is at most full
  EXPECT_EQ(m.robots[0].fre, 1);
  Passa(m, 20);
  EXPECT_EQ(m.robots[0].vel, 0);
  Ordena(m, 0, t_frena{-1});
  EXPECT_EQ(m.robots[0].fre, 0);
}

TEST(Xocs, WallsStopRobotsAndCostEnergy) {
  t_mon m = Mon({A(39.4, 15)});
  m.robots[0].vel = 4;
  const auto e = Passa(m);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(Dit(e[0]), "Collision 2 0");
  EXPECT_EQ(m.robots[0].vel, 0);
  EXPECT_EQ(m.robots[0].x, 40 - RADI_ROBOT);
  EXPECT_LT(m.robots[0].energia, 100);
  // Stopped against a wall, of any side, it hits it no more.
  const double llocs[][3] = {
      {39.4, 15, 0}, {0.6, 15, M_PI}, {20, 0.6, -M_PI / 2}, {20, 29.4, M_PI / 2}};
  for (const auto& [x, y, rumb] : llocs) {
    m = Mon({A(x, y, rumb)});
    m.robots[0].vel = 4;
    ASSERT_EQ(Passa(m).size(), 1u) << x << " " << y;
    const double energia = m.robots[0].energia;
    EXPECT_TRUE(Passa(m, 20).empty()) << x << " " << y;
    EXPECT_EQ(m.robots[0].energia, energia);
  }
}

TEST(Xocs, RobotsBumpCookiesFeedMinesHurt) {
  // Driving into each other: each loses what the closing speed is worth, once.
  t_mon m = Mon({A(10, 15), A(10.95, 15, M_PI)});
  m.robots[0].vel = 2;
  m.robots[1].vel = 1;
  auto e = Passa(m);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(Dit(e[0]), "Collision 0 0");
  EXPECT_EQ(Dit(e[1]), "Collision 0 0");
  EXPECT_NEAR(m.robots[1].x - m.robots[0].x, 2 * RADI_ROBOT, 1e-9);
  const double apropa = (2 + 1) * (1 - FREGAMENT * 0.05);  // their speeds after this tick's drag
  EXPECT_NEAR(m.robots[0].energia, 100 - DANY_XOC * apropa, 1e-9);
  EXPECT_NEAR(m.robots[1].energia, 100 - DANY_XOC * apropa, 1e-9);
  EXPECT_EQ(m.robots[0].vel, 0);
  // Resting against each other, or pressed by a gentle push, costs nothing more than the push
  // is worth: two seconds of contact, not a death by a thousand ticks.
  m.robots[0].accel = 0.5;
  e = Passa(m, 40);
  EXPECT_GT(m.robots[0].energia, 100 - DANY_XOC * apropa - 1);
  m.robots[0].accel = 0;
  const double abans = m.robots[1].energia;
  e = Passa(m, 40);
  EXPECT_TRUE(e.empty());
  EXPECT_EQ(m.robots[1].energia, abans);
  // Robots that overlap at rest are only pushed apart.
  m = Mon({A(10, 15), A(10.8, 15, M_PI)});
  EXPECT_TRUE(Passa(m).empty());
  EXPECT_NEAR(m.robots[1].x - m.robots[0].x, 2 * RADI_ROBOT, 1e-9);
  EXPECT_EQ(m.robots[0].energia, 100);
  // ... along the line of their centres, each by half, whatever its direction.
  m = Mon({A(10, 15), A(10.4, 15.3)});
  EXPECT_TRUE(Passa(m).empty());
  const double dx = m.robots[1].x - m.robots[0].x, dy = m.robots[1].y - m.robots[0].y;
  EXPECT_NEAR(std::hypot(dx, dy), 2 * RADI_ROBOT, 1e-9);
  EXPECT_NEAR(dy / dx, 0.3 / 0.4, 1e-9);
  EXPECT_NEAR(m.robots[0].x + m.robots[1].x, 20.4, 1e-9);
  EXPECT_NEAR(m.robots[0].y + m.robots[1].y, 30.3, 1e-9);

  m = Mon({A(10, 15), A(30, 15)});
  m.robots[0].energia = 110;
  m.objectes = {{10.5, 15, OBJ_GALETA}, {30, 15.5, OBJ_MINA}};
  e = Passa(m);
  EXPECT_EQ(m.robots[0].energia, m.opcions[OPT_ENERGIA_MAX]);  // capped
  EXPECT_EQ(m.robots[1].energia, 100 - DANY_MINA);
  EXPECT_EQ(m.robots[0].galetes, 1);
  EXPECT_EQ(m.robots[1].mines, 1);
  EXPECT_TRUE(m.objectes.empty());
}

TEST(Xocs, ShotsHitCostEnergyAndDieOnWalls) {
  t_mon m = Mon({A(10, 15), A(20, 15)});
  Ordena(m, 0, t_dispara{100});  // clamped to the largest shot
  Ordena(m, 0, t_dispara{1});    // the cannon is reloading: lost
  EXPECT_EQ(m.trets.size(), 1u);
  EXPECT_EQ(m.robots[0].energia, 100 - m.opcions[OPT_TRET_MAX]);
  std::vector<t_event> e;
  for (int i = 0; i < 40 && e.empty(); ++i) e = Passa(m);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].robot, 1);
  EXPECT_EQ(Dit(e[0]).rfind("Collision 1 ", 0), 0u);
  EXPECT_EQ(m.robots[1].energia, 100 - DANY_TRET * m.opcions[OPT_TRET_MAX]);
  EXPECT_EQ(m.robots[0].encerts, 1);
  EXPECT_TRUE(m.trets.empty());

  // A shot on a wall is still in the field; past it, it is gone (half a unit a tick: exact).
  for (const t_tret t : {t_tret{39, 5, 10, 0, 1, 0}, t_tret{1, 5, -10, 0, 1, 0},
                         t_tret{5, 29, 0, 10, 1, 0}, t_tret{5, 1, 0, -10, 1, 0}}) {
    m.trets = {t};
    Passa(m, 2);
    EXPECT_EQ(m.trets.size(), 1u) << t.x << " " << t.y;
    Passa(m);
    EXPECT_TRUE(m.trets.empty()) << t.x << " " << t.y;
  }

  // A shot as fast as a unit a tick hits in the tick it reaches a robot, like any other.
  m = Mon({A(10, 15), A(15, 15)});
  m.trets = {{13, 15, 20, 0, 1, 0}};
  Passa(m, 2);
  EXPECT_TRUE(m.trets.empty());
  EXPECT_LT(m.robots[1].energia, 100);

  // A shot flies on from a robot or a cookie it has left behind, however near.
  m = Mon({A(10, 15), A(19.2, 15)});
  m.objectes = {{20, 15.7, OBJ_GALETA}};
  m.trets = {{20, 15, 10, 0, 1, 0}};
  Passa(m);
  EXPECT_EQ(m.trets.size(), 1u);
  EXPECT_EQ(m.robots[1].energia, 100);
  EXPECT_EQ(m.objectes.size(), 1u);

  // Touching is hitting: a shot whose edge just meets a robot's takes it, whichever way it flies
  // or if it stands still (0.36 and 0.48 from the centre: exactly 0.6 away in binary too).
  for (const double vx : {10.0, 0.0}) {
    m = Mon({A(10, 15), A(20, 15)});
    m.trets = {{20.36, 15.48, vx, 0, 1, 0}};
    Passa(m);
    EXPECT_TRUE(m.trets.empty()) << vx;
    EXPECT_LT(m.robots[1].energia, 100) << vx;
  }
}

TEST(Xocs, TheCannonReloadsInAQuarterOfASecond) {
  t_mon m = Mon({A(10, 15)});
  std::vector<int> trets;
  for (int tick = 0; tick < 40; ++tick) {
    const size_t abans = m.trets.size() + m.robots[0].trets;
    Ordena(m, 0, t_dispara{0.5});
    if (m.trets.size() + m.robots[0].trets > abans) trets.push_back(tick);
    Passa(m);
  }
  // A tick is 0.05 s: every fifth tick, whatever the sums of 0.05 leave behind.
  EXPECT_EQ(trets, (std::vector<int>{0, 5, 10, 15, 20, 25, 30, 35}));
}

TEST(Raig, ReportsTheBearingOfWhatItSweptOver) {
  // The target's centre lies 0.3 rad to the left; the radar turns 0.5 rad in one tick across it.
  const double marcacio = 0.3;
  t_mon m = Mon({A(10, 15), A(10 + 10 * std::cos(marcacio), 15 + 10 * std::sin(marcacio))});
  m.robots[0].radar = 0.5;
  t_impacte v = Radar(m, 0);
  EXPECT_EQ(v.tipus, OBJ_ROBOT);
  EXPECT_NEAR(v.angle, marcacio, 1e-12);  // not the 0.5 the radar ended at
  // Only the edge was swept: the bearing is kept to the arc's end nearest the centre.
  m.robots[0].radar_abans = 0;
  m.robots[0].radar = 0.27;
  v = Radar(m, 0);
  EXPECT_EQ(v.tipus, OBJ_ROBOT);
  EXPECT_NEAR(v.angle, 0.27, 1e-12);
  // Relative to the body as it is now, which may have turned meanwhile.
  m.robots[0].rumb = 0.1;
  m.robots[0].radar = 0.4;
  m.robots[0].radar_abans = 0;
  v = Radar(m, 0);
  EXPECT_NEAR(v.angle, marcacio - 0.1, 1e-12);
  // A wall is reported where the radar points.
  m.robots[1].viu = false;
  EXPECT_NEAR(Radar(m, 0).angle, 0.4, 1e-12);
}

TEST(Xocs, ARobotWithoutEnergyDies) {
  t_mon m = Mon({A(10, 15)});
  m.robots[0].energia = 1;
  m.objectes = {{10, 15, OBJ_MINA}};
  const auto e = Passa(m);
  EXPECT_EQ(Dit(e.back()), "Dead");
  EXPECT_FALSE(m.robots[0].viu);
}

}  // namespace
