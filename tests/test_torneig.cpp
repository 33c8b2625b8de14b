// The tournament's scheduler, called directly: the same seeds give the same table whatever order
// the threads finish them in; and how a game's points are given.
#include <gtest/gtest.h>

#include <sstream>

#include "arena/taula.h"
#include "arena/torneig.h"

using namespace arena;

namespace {

TEST(Torneig, ATournamentGivesTheSameTableTwice) {
  t_config c;
  c.llavor = 5;
  c.durada = 15;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  t_torneig t;
  t.primera = 1;
  t.darrera = 10;
  t.resultats = "/dev/null";
  std::ostringstream progres;
  const std::string una = TaulaResultats(JugaTorneig(c, t, progres), t.sprt);
  EXPECT_EQ(una, TaulaResultats(JugaTorneig(c, t, progres), t.sprt));
  EXPECT_NE(una.find("Tournament: 20 games, seeds 1 to 10"), std::string::npos) << una;
}

TEST(Torneig, AGameGoesToTheLeaderTiedLeadersShareNobodyElseScores) {
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

}  // namespace
