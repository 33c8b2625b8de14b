// What a game gives each robot: the leader's point, shared among tied leaders, and nothing for
// the dead and the dropped.
#include <gtest/gtest.h>

#include <vector>

#include "arena/resum.h"

using namespace arena;

namespace {

TEST(Resum, AGameGoesToTheLeaderTiedLeadersShareNobodyElseScores) {
  const t_estat_robot viu = t_estat_robot::VIU, mort = t_estat_robot::MORT;
  auto F = [](t_estat_robot estat, double energia) {
    t_fitxa f;
    f.desenllac.estat = estat;
    if (estat == t_estat_robot::CAIGUT) f.desenllac.motiu = Motiu(t_causa::BRUTICIA);
    f.energia = energia;
    return f;
  };
  EXPECT_EQ(Punts({F(viu, 50), F(viu, 40)}), (std::vector<double>{1, 0}));
  EXPECT_EQ(Punts({F(viu, 50), F(viu, 50), F(viu, 10)}), (std::vector<double>{0.5, 0.5, 0}));
  EXPECT_EQ(Punts({F(mort, 0), F(t_estat_robot::CAIGUT, 90), F(viu, 1)}),
            (std::vector<double>{0, 0, 1}));
  EXPECT_EQ(Punts({F(mort, 0), F(mort, -3)}), (std::vector<double>{0, 0}));
}

// The series' table adds up every robot's points and wins over the games played, first robot
// included, and says how many of the games asked were played.
TEST(Resum, TheSeriesTableAddsUpEveryRobotsGames) {
  t_config c;
  c.jocs = 3;
  c.llavor = 9;
  auto Joc = [](double a, double b) {
    t_resultat r;
    r.fitxes.resize(2);
    r.fitxes[0].nom = "primer#1", r.fitxes[0].punts = a;
    r.fitxes[1].nom = "segon#2", r.fitxes[1].punts = b;
    return r;
  };
  const std::string taula = ResumSerie(c, {Joc(1, 0), Joc(0.5, 0.5)});
  EXPECT_NE(taula.find("Series: 2 of 3 games, seed 9\n"
                       "robot             points  wins\n"
                       "primer#1            1.50     1\n"
                       "segon#2             0.50     0\n"),
            std::string::npos)
      << taula;
}

}  // namespace
