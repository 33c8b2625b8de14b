// Matches against the built-in opponents, robots that misbehave, warnings, real-time play and
// tournaments.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "arena/partida.h"
#include "arena/torneig.h"

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
  EXPECT_EQ(Descriu(r.fitxes[7].desenllac),
            "dropped: cannot run " + kRobots + "/no-such-robot: No such file or directory");
  EXPECT_NE(Resum(c, r).find("dropped: exited with status 0"), std::string::npos);
  // Every robot was reaped: this process has no children left.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
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

TEST(Rivals, ATournamentGivesTheSameTableTwice) {
  t_config c = Duel(CACADOR_BIN, 15);
  c.llocs.clear();
  t_torneig t;
  t.primera = 1;
  t.darrera = 10;
  t.resultats = "/dev/null";
  std::ostringstream progres;
  const std::string una = TaulaResultats(JugaTorneig(c, t, progres), t.sprt);
  EXPECT_EQ(una, TaulaResultats(JugaTorneig(c, t, progres), t.sprt));
  EXPECT_NE(una.find("Tournament: 20 games, seeds 1 to 10"), std::string::npos) << una;
}

// Runs the arena program with `args` in `dir`; returns what it printed on standard output.
std::string Arena(const std::string& dir, const std::string& args, int& estat) {
  const std::string ordre = "cd " + dir + " && " + ARENA_BIN + " " + args + " 2>/dev/null";
  FILE* p = popen(ordre.c_str(), "r");
  if (!p) return "";
  std::string sortida;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) sortida.append(buf, n);
  estat = pclose(p);
  return sortida;
}

TEST(Torneig, EveryGameIsALineOfJsonAndTheGamesThatMatterAreKept) {
  char nom[] = "/tmp/arena-torneig-XXXXXX";
  const std::string dir = mkdtemp(nom);
  int estat = -1;
  const std::string taula = Arena(dir,
                                  "--tournament 4 --time 10 --keep drops,losses "
                                  "--results r.jsonl tavik cacador",
                                  estat);
  EXPECT_EQ(estat, 0) << taula;
  EXPECT_NE(taula.find("Tavik#1 against Cacador#2 (each seed from both places)"), std::string::npos)
      << taula;
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir + "/r.jsonl"}, registres, error)) << error;
  ASSERT_EQ(registres.size(), 8u);  // four seeds, each from both places
  EXPECT_EQ(TaulaResultats(registres, std::nullopt), taula);
  int guardats = 0;
  for (const auto& r : registres) {
    for (const char* camp :
         {"seed", "game", "swapped", "robots", "winner", "ticks", "replay", "files"}) {
      EXPECT_TRUE(r.contains(camp)) << camp;
    }
    for (const auto& robot : r.at("robots")) {
      for (const char* camp : {"name", "program", "x", "y", "heading", "energy", "shots", "hits",
                               "cookies", "mines", "cpu", "status", "reason", "points"}) {
        EXPECT_TRUE(robot.contains(camp)) << camp;
      }
    }
    if (r.at("files").empty()) continue;
    // A kept game is the very game its replay command plays again.
    ++guardats;
    const std::string txt = r.at("files")[0].get<std::string>();
    std::string ordre = r.at("replay").get<std::string>();
    ordre = ordre.substr(ordre.find(' ') + 1) + " --transcript again.txt";
    Arena(dir, ordre, estat);
    EXPECT_EQ(estat, 0) << ordre;
    std::ifstream a(dir + "/" + txt), b(dir + "/again.txt");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(a)), {}),
              std::string((std::istreambuf_iterator<char>(b)), {}))
        << ordre;
  }
  EXPECT_GT(guardats, 0);
  std::filesystem::remove_all(dir);
}

TEST(Torneig, TheTestStopsByItselfWithItsDecision) {
  char nom[] = "/tmp/arena-torneig-XXXXXX";
  const std::string dir = mkdtemp(nom);
  int estat = -1;
  const std::string taula = Arena(dir, "--sprt 0 20 --time 20 tavik diana", estat);
  EXPECT_EQ(estat, 0) << taula;
  EXPECT_NE(taula.find(": H1 accepted after "), std::string::npos) << taula;
  EXPECT_NE(taula.find("Elo difference: +"), std::string::npos) << taula;
  std::filesystem::remove_all(dir);
}

}  // namespace
