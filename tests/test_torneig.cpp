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

TEST(Torneig, AResultThatCannotBeWrittenStartsNoFurtherGame) {
  t_config c;
  c.durada = 2;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  t_torneig t;
  t.primera = 1;
  t.darrera = 10;
  t.fils = 1;
  t.resultats = "/dev/full";
  t.progres_terminal = true;
  size_t acabades = 0;  // units that reported their end, besides the start and the close
  t.en_progres = [&](size_t, size_t, const t_pentanomi&) { ++acabades; };
  std::ostringstream progres;
  std::string error;
  EXPECT_TRUE(JugaTorneig(c, t, progres, &error).empty());
  EXPECT_EQ(error, "cannot write /dev/full: No space left on device");
  EXPECT_EQ(acabades, 3u);  // the start, the one unit whose record failed, the close
  // No game was counted: the line says so without a time left of its own invention.
  EXPECT_TRUE(progres.str().find("\r\033[K0/20 games, 0.0 games/s, 0 s left\n") !=
              std::string::npos)
      << progres.str();
}

}  // namespace
