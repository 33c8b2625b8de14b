// Matches against the built-in opponents, robots that misbehave, warnings and real-time play.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "arena/partida.h"
#include "arena/resum.h"

using namespace arena;

namespace {

const std::string kRobots = ROBOTS_DIR;

t_config Duel(const std::string& rival, double durada) {
  t_config c;
  c.llavor = 5;
  c.durada = durada;
  c.robots = {TAVIK_BIN, rival};
  c.llocs = {{12, 15, 0}, {28, 15, M_PI}};
  return c;
}

TEST(Rivals, TavikHitsTheMovingOpponent) {
  const t_resultat r = JugaPartida(Duel(RODAMON_BIN, 30));
  EXPECT_GE(r.fitxes[0].trets, 1);
  EXPECT_GE(r.fitxes[0].encerts, 1);
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac).rfind("dropped", 0), std::string::npos);
}

TEST(Rivals, TavikFightsTheOpponentThatShootsBack) {
  const t_resultat r = JugaPartida(Duel(CACADOR_BIN, 30));
  EXPECT_GE(r.fitxes[0].encerts, 1);
  EXPECT_GE(r.fitxes[1].trets, 1);
  EXPECT_TRUE(Descriu(r.fitxes[0].desenllac) == "alive" || Descriu(r.fitxes[0].desenllac) == "dead")
      << Descriu(r.fitxes[0].desenllac);
}

TEST(Rivals, MisbehavingRobotsAreDroppedAndTheMatchGoesOn) {
  t_config c;
  c.durada = 10;
  c.espera_ms = 2000;
  c.robots = {TAVIK_BIN, kRobots + "/surt.sh", kRobots + "/sord.sh",   kRobots + "/brossa.sh",
              kDiana,    kRobots + "/peta.sh", kRobots + "/ocupat.sh", kRobots + "/no-such-robot"};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(r.ticks, 200);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "dropped: exited with status 0");
  EXPECT_EQ(Descriu(r.fitxes[2].desenllac), "dropped: does not read its input");
  EXPECT_EQ(Descriu(r.fitxes[3].desenllac).rfind("dropped: ", 0), 0u);
  EXPECT_EQ(Descriu(r.fitxes[5].desenllac), "dropped: killed by signal 11 (SIGSEGV)");
  // A robot that never waits is reported with what it was doing.
  EXPECT_EQ(Descriu(r.fitxes[6].desenllac).rfind("dropped: no answer in time (process ", 0), 0u)
      << Descriu(r.fitxes[6].desenllac);
  EXPECT_NE(Descriu(r.fitxes[6].desenllac).find("(ocupat.sh): state R)"), std::string::npos)
      << Descriu(r.fitxes[6].desenllac);
  // The CPU it burned for its two seconds is counted, as its sandbox reports it.
  EXPECT_GT(r.fitxes[6].cpu, 0.2);
  EXPECT_LT(r.fitxes[1].cpu, 0.2);
  EXPECT_EQ(Descriu(r.fitxes[7].desenllac),
            "dropped: cannot run " + kRobots + "/no-such-robot: No such file or directory");
  EXPECT_NE(Resum(c, r).find("dropped: exited with status 0"), std::string::npos);
  // Every robot was reaped: this process has no children left.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// A few lines in a tick that are no command are a robot's mistakes, said and skipped; more than
// ten are garbage, and the robot is dropped.
TEST(Rivals, TenBadLinesInATickAreMistakesElevenAreGarbage) {
  t_config c;
  c.durada = 1;
  c.robots = {kRobots + "/brut.sh 10 " + TAVIK_BIN, kRobots + "/brut.sh 11 " + TAVIK_BIN};
  const t_resultat r = JugaPartida(c);
  ASSERT_EQ(r.fitxes.size(), 2u) << r.error_arena;
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "dropped: writes garbage");
  // Nothing it wrote is heard after it was dropped: not the rest of that tick, not at the end.
  const auto caigut = std::find_if(r.transcripcio.begin(), r.transcripcio.end(), [](auto& l) {
    return l.find(" ! dropped: writes garbage") != std::string::npos;
  });
  ASSERT_NE(caigut, r.transcripcio.end());
  const size_t nom = caigut->find(' ') + 1;  // after the time, however long
  const std::string qui = caigut->substr(nom, caigut->find(" !") - nom);
  for (auto l = caigut; l != r.transcripcio.end(); ++l) {
    EXPECT_EQ(l->find(" " + qui + " < "), std::string::npos) << *l;
  }
}

// As much output in one tick as the flood rule allows is played; more is a flood, and the robot
// is dropped.
TEST(Rivals, OutputUpToTheFloodRuleInATickIsPlayedMoreIsAFlood) {
  t_config c;
  c.durada = 1;
  c.max_bytes_tick = 20000;
  c.robots = {std::string(XERRAIRE_BIN) + " 20000", std::string(XERRAIRE_BIN) + " 21000"};
  const t_resultat r = JugaPartida(c);
  ASSERT_EQ(r.fitxes.size(), 2u) << r.error_arena;
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "dropped: floods its output");
}

// A program named by a word is looked for in each folder of PATH in turn, as a shell does: one
// that is only in the last is found.
TEST(Rivals, AProgramWordIsFoundInAnyFolderOfPath) {
  const std::string tavik = TAVIK_BIN, abans = std::getenv("PATH") ? std::getenv("PATH") : "";
  const std::string dir = tavik.substr(0, tavik.rfind('/'));
  setenv("PATH", ("/nonexistent:/etc:" + dir).c_str(), 1);
  t_config c;
  c.durada = 0.2;
  c.aillat = false;  // a build under /tmp would not be carried into a sandbox by a word
  c.robots = {"tavik"};
  const t_resultat r = JugaPartida(c);
  setenv("PATH", abans.c_str(), 1);
  ASSERT_EQ(r.fitxes.size(), 1u) << r.error_arena;
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
}

// A robot gets the colour it asks for unless it is within 80 (in RGB) of one already given:
// exactly 80 away is far enough, 79 is not.
TEST(Rivals, ColoursTooCloseToOneAlreadyGivenAreNotGiven) {
  t_config c;
  c.durada = 0.2;
  const std::string color = kRobots + "/color.sh ";
  c.robots = {color + "0x000000 " + TAVIK_BIN, color + "0x500000 " + TAVIK_BIN,
              color + "0x4f0000 " + TAVIK_BIN};
  const t_resultat r = JugaPartida(c);
  std::vector<std::string> donats;
  for (const auto& l : r.transcripcio) {
    const size_t on = l.find(" > YourColour ");
    if (on != std::string::npos) donats.push_back(l.substr(5, on - 5) + l.substr(on + 13));
  }
  ASSERT_GE(donats.size(), 3u);
  EXPECT_EQ(donats[0], "color.sh#1 0x000000");
  EXPECT_EQ(donats[1], "color.sh#2 0x500000");
  EXPECT_EQ(donats[2].rfind("color.sh#3 ", 0), 0u);
  EXPECT_NE(donats[2], "color.sh#3 0x4f0000");
}

TEST(Rivals, ARobotThatIgnoresExitRobotIsKilledAfterTwoSeconds) {
  t_config c;
  c.durada = 0.5;
  c.robots = {TOSSUT_BIN};
  const auto t0 = std::chrono::steady_clock::now();
  const t_resultat r = JugaPartida(c);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(r.transcripcio.back().substr(5), "tossut#1 ! killed: still running after ExitRobot");
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

// An opponent whose arena went away without ExitRobot ends as well, and not as a failure: it
// neither stays behind reading an input that is closed nor reports a fault that is not its own.
TEST(Rivals, TheBuiltInOpponentEndsWhenItsInputCloses) {
  EXPECT_EQ(std::system("timeout 20 " CACADOR_BIN " </dev/null >/dev/null"), 0);
}

TEST(Rivals, UnknownOptionsAndCommandsAreAnsweredWithWarnings) {
  t_config c;
  c.durada = 0.5;
  c.espera_ms = 500;  // it never reads, so it is dropped after the warnings went out
  c.robots = {kRobots + "/avisos.sh"};
  const t_resultat r = JugaPartida(c);
  auto Conte = [&](const std::string& text) {
    for (const auto& l : r.transcripcio) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(Conte("avisos.sh#1 > Warning 3 RobotOption 7 1"));
  EXPECT_TRUE(Conte("avisos.sh#1 > Warning 1 Fly 3"));
}

TEST(Rivals, RealTimeTicksFollowTheClock) {
  t_config c = Duel(kDiana, 1);
  c.temps_real = true;
  const auto t0 = std::chrono::steady_clock::now();
  const t_resultat r = JugaPartida(c);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(r.ticks, 20);
}

}  // namespace
