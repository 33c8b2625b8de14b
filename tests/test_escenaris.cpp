// Scenario tests: short seeded matches of the built robot in the practice arena, judged by their
// outcome, and the arena's promise that a seed fixes the match whatever the machine is doing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <sstream>

#include "arena/fitxer.h"
#include "arena/partida.h"

using namespace arena;

namespace {

const t_fitxa& Fitxa(const t_resultat& r, size_t i) {
  return r.fitxes.at(i);
}

// The game time and text of each transcript line of robot `nom` that contains `text`.
std::vector<std::pair<double, std::string>> Busca(const t_resultat& r, const std::string& nom,
                                                  const std::string& text) {
  std::vector<std::pair<double, std::string>> trobades;
  for (const auto& l : r.transcripcio) {
    std::istringstream in(l);
    double t;
    std::string qui;
    in >> t >> qui;
    if (qui == nom && l.find(text) != std::string::npos) trobades.emplace_back(t, l);
  }
  return trobades;
}

// A situation from the match files of examples/partides.
t_resultat Juga(const std::string& nom) {
  t_config c;
  std::string error;
  EXPECT_TRUE(LlegeixPartida(std::string(PARTIDES_DIR) + "/" + nom, RIVALS_DIR, c, error)) << error;
  return JugaPartida(c);
}

TEST(Escenari, LocksOnToASittingTargetAndHitsIt) {
  const t_resultat r = Juga("diana.toml");  // 20 units away, straight ahead
  EXPECT_FALSE(Busca(r, "Tavik#1", "< Print  [+] ^^").empty());
  EXPECT_GE(Fitxa(r, 0).encerts, 1);
  EXPECT_LT(Fitxa(r, 1).energia, 100);
}

TEST(Escenari, DrivesToTheCookiesAheadAndEatsThem) {
  const t_resultat r = Juga("galetes.toml");
  EXPECT_EQ(Fitxa(r, 0).galetes, 3);
  EXPECT_EQ(Busca(r, "Tavik#1", "> Collision 3").size(), 3u);
}

TEST(Escenari, FleesAfterAShotAndScansAgainWithinFiveSeconds) {
  const t_resultat r = Juga("tret.toml");  // flying straight at the robot
  const auto cops = Busca(r, "Tavik#1", "> Collision 1 ");
  ASSERT_FALSE(cops.empty());
  const double t0 = cops.front().first;
  const auto gir = Busca(r, "Tavik#1", "< Rotate 7 -0.785398");
  ASSERT_FALSE(gir.empty());
  EXPECT_EQ(gir.front().first, t0);
  bool mou = false;
  for (const auto& [t, l] : Busca(r, "Tavik#1", "> Info ")) {
    double temps, vel;
    std::istringstream(l.substr(l.find("Info ") + 5)) >> temps >> vel;
    mou = mou || (t > t0 && t < t0 + 5 && vel > 0);
  }
  EXPECT_TRUE(mou);
  bool escaneja = false;
  for (const auto& [t, l] : Busca(r, "Tavik#1", "< Rotate 6 1.5708"))
    escaneja = escaneja || (t > t0 && t <= t0 + 5);
  EXPECT_TRUE(escaneja);
}

TEST(Escenari, LocksOnToARobotThatCrossesItsRadarTenUnitsAway) {
  const t_resultat r = Juga("radar-10.toml");
  EXPECT_EQ(Fitxa(r, 0).nom, "Scanner#1");  // the names the file gives
  EXPECT_EQ(Fitxa(r, 1).nom, "Crosser#2");
  EXPECT_FALSE(Busca(r, "Scanner#1", "< Print  [+] ^^").empty());
  EXPECT_GE(Fitxa(r, 0).trets, 1);
}

TEST(Escenari, TheOtherExampleMatchesPlayToTheirEnd) {
  for (const char* nom : {"duel.toml", "mines.toml", "melee.toml"}) {
    const t_resultat r = Juga(nom);
    for (const auto& f : r.fitxes) {
      EXPECT_TRUE(Descriu(f.desenllac) == "alive" || Descriu(f.desenllac) == "dead")
          << nom << ": " << f.nom << " " << Descriu(f.desenllac);
    }
  }
  int mines = 0;
  const t_resultat r = Juga("mines.toml");
  for (const auto& o : r.objectes.front().second) mines += o.tipus == OBJ_MINA;
  EXPECT_EQ(mines, 12);
}

TEST(Escenari, TwoRobotsFinishAMinuteAndBothExit) {
  t_config c;
  c.llavor = 7;
  c.robots = {TAVIK_BIN, TAVIK_BIN};
  const t_resultat r = JugaPartida(c);
  for (const auto& l : r.transcripcio) EXPECT_EQ(l.find(" ! "), std::string::npos) << l;
  for (const auto& f : r.fitxes)
    EXPECT_TRUE(Descriu(f.desenllac) == "alive" || Descriu(f.desenllac) == "dead")
        << Descriu(f.desenllac);
  EXPECT_EQ(Busca(r, "Tavik#1", "> ExitRobot").size(), 1u);
  EXPECT_EQ(Busca(r, "Tavik#2", "> ExitRobot").size(), 1u);
}

// Busy processes on every core while a match runs.
struct Carrega {
  std::vector<pid_t> fills;
  Carrega() {
    for (long i = 0; i < sysconf(_SC_NPROCESSORS_ONLN); ++i) {
      const pid_t p = fork();
      if (p == 0) {
        for (volatile unsigned long x = 0;; x = x + 1) {
        }
      }
      // Only a child that exists is kept: a failed fork's -1 given to kill() would signal
      // every process we may signal.
      if (p > 0) fills.push_back(p);
    }
  }
  ~Carrega() {
    for (pid_t p : fills) kill(p, SIGKILL);
    for (pid_t p : fills) waitpid(p, nullptr, 0);
  }
};

TEST(Escenari, OneSeedGivesTheSameMatchOnALoadedMachine) {
  t_config c;
  c.llavor = 42;
  c.durada = 20;
  c.robots = {TAVIK_BIN, kDiana, TAVIK_BIN};
  const t_resultat tranquil = JugaPartida(c);
  Carrega carrega;
  const t_resultat carregat = JugaPartida(c);
  EXPECT_EQ(tranquil.transcripcio, carregat.transcripcio);
  c.llavor = 43;
  EXPECT_NE(JugaPartida(c).transcripcio, tranquil.transcripcio);
}

}  // namespace
