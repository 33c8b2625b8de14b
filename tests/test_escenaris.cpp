// Scenario tests: short seeded matches of the built robot in the practice arena, judged by their
// outcome, and the arena's promise that a seed fixes the match whatever the machine is doing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <sstream>

#include "arena/partida.h"

namespace {

t_config Buit(double durada) {
  t_config c;
  c.durada = durada;
  c.galetes = c.mines = 0;
  c.robots = {TAVIK_BIN};
  c.llocs = {{10, 15, 0}};
  return c;
}

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

TEST(Escenari, LocksOnToASittingTargetAndHitsIt) {
  t_config c = Buit(10);
  c.robots.push_back(kDiana);
  c.llocs.push_back({30, 15, M_PI});  // 20 units away
  const t_resultat r = JugaPartida(c);
  EXPECT_FALSE(Busca(r, "Tavik#1", "< Print  [+] ^^").empty());
  EXPECT_GE(Fitxa(r, 0).encerts, 1);
  EXPECT_LT(Fitxa(r, 1).energia, 100);
}

TEST(Escenari, DrivesToACookieAheadAndEatsIt) {
  t_config c = Buit(20);
  c.objectes = {{17, 15, OBJ_GALETA}};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Fitxa(r, 0).galetes, 1);
  EXPECT_FALSE(Busca(r, "Tavik#1", "> Collision 3").empty());
}

TEST(Escenari, FleesAfterAShotAndScansAgainWithinFiveSeconds) {
  t_config c = Buit(10);
  c.trets = {{16, 15, -10, 0, 1, -1}};  // flying straight at the robot
  const t_resultat r = JugaPartida(c);
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

TEST(Escenari, TwoRobotsFinishAMinuteAndBothExit) {
  t_config c;
  c.llavor = 7;
  c.robots = {TAVIK_BIN, TAVIK_BIN};
  const t_resultat r = JugaPartida(c);
  for (const auto& l : r.transcripcio) EXPECT_EQ(l.find(" ! "), std::string::npos) << l;
  for (const auto& f : r.fitxes) EXPECT_TRUE(f.estat == "alive" || f.estat == "dead") << f.estat;
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
