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

}  // namespace
