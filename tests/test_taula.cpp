// The table of a tournament from records alone, without a process: pairs scored from the first
// robot's side in seed order, only those up to the test's decision, single games as if pairs,
// drops and two programs of one name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arena/taula.h"
#include "tests/registres.h"

using namespace arena;

namespace {

// A two-robot game's record: the first robot of the tournament scores `a`.
json Joc(uint64_t seed, bool invertit, double a, const std::string& estat_b = "alive") {
  json primer = {{"name", "A#1"},  {"points", a}, {"status", "alive"},
                 {"energy", 10.0}, {"shots", 1},  {"hits", 0}};
  json segon = {{"name", "B#2"},     {"points", a == 0.5 ? 0.5 : 1 - a},
                {"status", estat_b}, {"energy", 5.0},
                {"shots", 2},        {"hits", 1}};
  json robots = invertit ? json::array({segon, primer}) : json::array({primer, segon});
  return {
      {"seed", seed}, {"game", 1}, {"swapped", invertit}, {"robots", robots}, {"duration", 60.0}};
}

TEST(TaulaResultats, PairsAreScoredFromTheFirstRobotsSideInSeedOrder) {
  // Seed 2: won from one place, drawn from the other (0.75); seed 1: lost both (0); seed 3:
  // only one game came (an interrupted tournament), so it is no pair.
  const std::vector<json> registres = {Joc(2, true, 0.5), Joc(1, false, 0), Joc(2, false, 1),
                                       Joc(1, true, 0), Joc(3, false, 1)};
  const std::string taula = TaulaResultats(registres, std::nullopt);
  EXPECT_NE(taula.find("Tournament: 5 games, seeds 1 to 3, 60 s each\n"), std::string::npos);
  EXPECT_NE(taula.find("The figures below count 4 of them: the complete pairs\n"),
            std::string::npos);
  EXPECT_NE(taula.find("A#1                   1      1      2   0.375       0\n"),
            std::string::npos)
      << taula;
  EXPECT_NE(taula.find("pairs: 1, 0, 0, 1, 0"), std::string::npos) << taula;
  // The same records in any order give the same table.
  std::vector<json> al_reves(registres.rbegin(), registres.rend());
  EXPECT_EQ(TaulaResultats(al_reves, std::nullopt), taula);
  // The robots are named by their place in the tournament, also when the first game of all
  // was played from swapped places.
  const std::string inverses = TaulaResultats({Joc(1, true, 0), Joc(2, false, 1)}, std::nullopt);
  EXPECT_NE(inverses.find("A#1 against B#2"), std::string::npos) << inverses;
}

TEST(TaulaResultats, WithATestOnlyThePairsUpToItsDecisionCount) {
  std::vector<json> registres;
  for (uint64_t s = 1; s <= 30; ++s) {
    registres.push_back(Joc(s, false, 1));
    registres.push_back(Joc(s, true, s % 3 == 0 ? 0.5 : 1));
  }
  const t_sprt sprt{0, 20, 0.05, 0.05};
  const std::string taula = TaulaResultats(registres, sprt);
  EXPECT_NE(taula.find("The figures below count 20 of them: the pairs up to the test's decision"),
            std::string::npos)
      << taula;
  EXPECT_NE(taula.find("H1 accepted after 10 pairs"), std::string::npos) << taula;
}

TEST(TaulaResultats, DropsAndTwoProgramsOfOneNameAreShown) {
  std::vector<json> registres;
  for (uint64_t s = 1; s <= 3; ++s) {
    for (bool invertit : {false, true}) {
      json r = Complet(s, invertit, 0, "./nou/a");
      json& b = r["robots"][invertit ? 0 : 1];
      b["name"] = "A#2";
      if (s < 3) b["status"] = "dropped", b["reason"] = "killed by signal 11 (SIGSEGV)";
      registres.push_back(r);
    }
  }
  const std::string taula = TaulaResultats(registres, std::nullopt);
  EXPECT_NE(taula.find("A#1 (./a) against A#2 (./nou/a)"), std::string::npos) << taula;
  // A name of any length keeps the rows whole.
  registres[0]["robots"][0]["name"] = std::string(600, 'L') + "#1";
  const std::string llarg = TaulaResultats(registres, std::nullopt);
  EXPECT_NE(llarg.find("LLLL... against A#2"), std::string::npos) << llarg;
  EXPECT_NE(llarg.find("\nA#2 "), std::string::npos) << llarg;  // its row is its own
  EXPECT_NE(taula.find("A#2 (./nou/a)         6      0      0   1.000       4\n"),
            std::string::npos)
      << taula;
  EXPECT_NE(taula.find("Games with a drop: 4\n  A#2 (./nou/a) dropped in 4 games, most often (4): "
                       "killed by signal 11 (SIGSEGV)\n"),
            std::string::npos)
      << taula;
  // Seed 3's pair, with one drop.
  std::vector<json> parell = {registres[4], registres[5]};
  parell[0]["robots"][1]["status"] = "dropped";
  parell[0]["robots"][1]["reason"] = "it fell";
  const std::string una = TaulaResultats(parell, std::nullopt);
  EXPECT_NE(una.find("Games with a drop: 1\n  A#2 (./nou/a) dropped in 1 game, most often (1): "
                     "it fell\n"),
            std::string::npos)
      << una;
}

TEST(TaulaResultats, UnpairedGamesAreTestedGameByGame) {
  std::vector<json> registres;
  for (uint64_t s = 1; s <= 300; ++s)
    registres.push_back(Complet(s, false, s % 4 == 0 ? 0 : 1, "./b", false));
  const std::string taula = TaulaResultats(registres, t_sprt{0, 20, 0.05, 0.05});
  EXPECT_NE(taula.find("single games, counted as if pairs"), std::string::npos) << taula;
  EXPECT_NE(taula.find("H1 accepted after "), std::string::npos) << taula;
  EXPECT_NE(taula.find(" games\n"), std::string::npos) << taula;
  EXPECT_NE(taula.find("the games up to the test's decision"), std::string::npos) << taula;
}

// Three robots: a row per robot, in which only a robot tied for the lead draws, only a survivor
// keeps energy and a dropped robot is counted as such.
TEST(TaulaResultats, AMeleeCountsEachRobotsWinsDrawsAndDrops) {
  auto Melee = [](uint64_t seed, double a, double b, double c) {
    json r = Complet(seed, false, 1);
    json tercer = r["robots"][1];
    tercer["name"] = "C#3";
    tercer["program"] = "./c";
    r["robots"].push_back(tercer);
    const double punts[3] = {a, b, c};
    for (size_t k = 0; k < 3; ++k) r["robots"][k]["points"] = punts[k];
    return r;
  };
  json caigut = Melee(3, 0, 0, 1);
  caigut["robots"][1]["status"] = "dropped";
  caigut["robots"][1]["reason"] = "exited";
  const std::string taula =
      TaulaResultats({Melee(1, 1, 0, 0), Melee(2, 0.5, 0.5, 0), caigut}, std::nullopt);
  EXPECT_NE(
      taula.find("robot             points  wins  draws  dropped  mean energy  shots  hits\n"
                 "A#1                 1.50     1      1        0         50.0      9     3\n"
                 "B#2                 0.50     0      1        1         33.3      9     3\n"
                 "C#3                 1.00     1      0        0         50.0      9     3\n"),
      std::string::npos)
      << taula;
}

}  // namespace
