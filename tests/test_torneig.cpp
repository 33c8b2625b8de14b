// Tournament statistics and tables, without a process: the pentanomial Elo and its interval, the
// likelihood of superiority, the sequential test against a worked example, its degenerate cases
// and its error rate on simulated pairs; the scoring of a game; the table from records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include "arena/torneig.h"
#include "tests/temporal.h"

namespace {

TEST(Estadistica, TheWorkedExample) {
  const t_pentanomi p{5, 15, 40, 25, 15};
  const t_estimacio e = Estima(p);
  EXPECT_EQ(e.parells, 100);
  EXPECT_DOUBLE_EQ(e.s, 0.575);
  EXPECT_NEAR(e.var, 0.069375, 1e-12);
  EXPECT_NEAR(e.elo, 52.5, 0.05);
  EXPECT_NEAR(e.elo_lo, 16.3, 0.05);
  EXPECT_NEAR(e.elo_hi, 89.9, 0.05);
  EXPECT_NEAR(e.los, 0.9978, 0.00005);
  const t_sprt sprt{0, 20, 0.05, 0.05};
  EXPECT_NEAR(Llr(p, sprt), 2.51, 0.005);
  EXPECT_NEAR(sprt.Baixa(), -2.94, 0.005);
  EXPECT_NEAR(sprt.Alta(), 2.94, 0.005);
  EXPECT_EQ(Decideix(p, sprt), t_decisio::CONTINUA);
  EXPECT_EQ(TextElo(p), "+52.5 (95%: +16.3 to +89.9), LOS 99.78%");
  EXPECT_EQ(TextSprt(p, sprt),
            "SPRT elo0 0 elo1 20 (alpha 0.05, beta 0.05): LLR 2.51 (bounds -2.94, 2.94): continue");
}

TEST(Estadistica, DegenerateCountsGiveHonestAnswers) {
  const t_sprt sprt{0, 20, 0.05, 0.05};
  // Two mirrored robots: every pair scores exactly 0.5.
  const t_pentanomi iguals{0, 0, 30, 0, 0};
  EXPECT_EQ(Estima(iguals).elo, 0);
  EXPECT_EQ(TextElo(iguals),
            "+0.0: every pair scored 0.50, so there is no spread to give an interval from");
  EXPECT_EQ(Llr(iguals, sprt), -INFINITY);  // closer to ELO0 than ELO1, with no doubt at all
  EXPECT_EQ(Decideix(iguals, sprt), t_decisio::H0);
  const t_pentanomi guanys{0, 0, 0, 0, 12}, derrotes{12, 0, 0, 0, 0};
  EXPECT_EQ(TextElo(guanys).rfind("+inf: every pair scored 1.00", 0), 0u);
  EXPECT_EQ(TextElo(derrotes).rfind("-inf: every pair scored 0.00", 0), 0u);
  EXPECT_EQ(Decideix(guanys, sprt), t_decisio::H1);
  EXPECT_EQ(Decideix(derrotes, sprt), t_decisio::H0);
  // Nothing is decided on too few pairs, nor said about none.
  EXPECT_EQ(Decideix({0, 0, 0, 0, 9}, sprt), t_decisio::CONTINUA);
  // Mirrored robots midway between symmetric bounds: no rounding picks a side, and the test
  // stops rather than play for ever.
  for (double elo : {1.0, 3.0, 5.0}) {
    EXPECT_EQ(Llr(iguals, {-elo, elo, 0.05, 0.05}), 0) << elo;
    EXPECT_EQ(Decideix(iguals, {-elo, elo, 0.05, 0.05}), t_decisio::INDECIDIBLE) << elo;
  }
  EXPECT_EQ(MalsLimits({0, 1e-20, 0.05, 0.05}), "ELO1 at least 0.5 above ELO0");
  EXPECT_NE(MalsLimits({0, 1e308, 0.05, 0.05}), "");
  EXPECT_EQ(MalsLimits({-10, 10, 0.05, 0.05}), "");
  EXPECT_EQ(TextElo({}), "no pairs yet");
  EXPECT_EQ(Llr({}, sprt), 0);
}

// Pairs drawn from a pentanomial whose expected score is that of `elo`, until the test decides.
t_decisio Simula(std::mt19937_64& gen, double elo, const t_sprt& sprt) {
  // A spread typical of real pairs, shifted so that its mean is the expected score.
  const double s = Esperat(elo);
  const double d = (s - 0.5) * 4;  // moves weight from the low to the high side
  std::discrete_distribution<int> tria(
      {0.05 - d / 8, 0.20 - 3 * d / 8, 0.5, 0.20 + 3 * d / 8, 0.05 + d / 8});
  t_pentanomi p{};
  for (int k = 0; k < 100000; ++k) {
    ++p[static_cast<size_t>(tria(gen))];
    const t_decisio r = Decideix(p, sprt);
    if (r != t_decisio::CONTINUA) return r;
  }
  return t_decisio::CONTINUA;
}

TEST(Estadistica, UnderH0TheTestAcceptsH1AboutAlphaOfTheTime) {
  std::mt19937_64 gen(20261208);
  const t_sprt sprt{0, 20, 0.05, 0.05};
  int h1 = 0, h0_sota_h1 = 0;
  const int proves = 1000;
  for (int k = 0; k < proves; ++k) h1 += Simula(gen, 0, sprt) == t_decisio::H1;
  for (int k = 0; k < proves; ++k) h0_sota_h1 += Simula(gen, 20, sprt) == t_decisio::H0;
  std::printf("# wrong decisions in %d simulated tests: H1 under H0 %d, H0 under H1 %d\n", proves,
              h1, h0_sota_h1);
  // The approximation is not exact, and a sequential test overshoots its bounds: about 5%.
  EXPECT_GT(h1, proves * 0.01);
  EXPECT_LT(h1, proves * 0.08);
  EXPECT_GT(h0_sota_h1, proves * 0.01);
  EXPECT_LT(h0_sota_h1, proves * 0.08);
}

TEST(Punts, TheLeaderWinsTiedLeadersShareNobodyElseScores) {
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

TEST(Taula, PairsAreScoredFromTheFirstRobotsSideInSeedOrder) {
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
}

TEST(Taula, WithATestOnlyThePairsUpToItsDecisionCount) {
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

// A whole record as the runner writes it, for the reader's checks.
json Complet(uint64_t seed, bool invertit, double a, const std::string& programa_b = "./b",
             bool parells = true) {
  json robots = json::array();
  const std::pair<std::string, double> robot[] = {{"./a", a}, {programa_b, a == 0.5 ? 0.5 : 1 - a}};
  for (size_t k = 0; k < 2; ++k) {
    robots.push_back({{"name", k == 0 ? "A#1" : "B#2"},
                      {"program", robot[k].first},
                      {"x", 1.0},
                      {"y", 2.0},
                      {"heading", 0.0},
                      {"energy", 50.0},
                      {"shots", 3},
                      {"hits", 1},
                      {"cookies", 0},
                      {"mines", 0},
                      {"cpu", 0.1},
                      {"status", "alive"},
                      {"reason", ""},
                      {"stderr", nullptr},
                      {"points", robot[k].second}});
  }
  if (invertit) std::swap(robots[0], robots[1]);
  return {{"version", VERSIO_REGISTRE},
          {"seed", seed},
          {"game", 1},
          {"swapped", invertit},
          {"robots", robots},
          {"winner", nullptr},
          {"ticks", 10},
          {"time", 0.5},
          {"duration", 0.5},
          {"tournament",
           {{"programs", {"./a", programa_b}},
            {"tick", 0.05},
            {"games", 1},
            {"first_game", 1},
            {"paired", parells},
            {"duration", 0.5}}},
          {"replay", "arena"},
          {"files", json::array()}};
}

std::string Escriu(const std::string& cami, const std::vector<std::string>& linies) {
  std::ofstream f(cami);
  for (const auto& l : linies) f << l << "\n";
  return cami;
}

TEST(Resultats, FilesThatAreNotOneTournamentAreRefusedWithTheirLines) {
  const t_dir dir;
  const std::string a =
      Escriu(dir.cami + "/a.jsonl", {Complet(1, false, 1).dump(), Complet(1, true, 0.5).dump()});
  const std::string b = Escriu(dir.cami + "/b.jsonl", {Complet(2, false, 1).dump()});
  std::vector<json> r;
  std::string error;
  EXPECT_TRUE(LlegeixResultats({a, b}, r, error)) << error;
  EXPECT_EQ(r.size(), 3u);

  const std::pair<std::vector<std::string>, std::string> casos[] = {
      // One file twice, or the same game in two files.
      {{a, a}, a + ": the same file as " + a},
      {{a, Escriu(dir.cami + "/c.jsonl", {"", Complet(1, true, 1).dump()})},
       a + ":2 and " + dir.cami + "/c.jsonl:2: the same game (seed 1, game 1, swapped)"},
      // Another tournament: another second program.
      {{a, Escriu(dir.cami + "/d.jsonl", {Complet(3, false, 1, "./c").dump()})},
       dir.cami +
           "/d.jsonl:1: another tournament (programs [\"./a\",\"./b\"] against "
           "[\"./a\",\"./c\"]) than " +
           a + ":1"},
  };
  for (const auto& [fitxers, esperat] : casos) {
    r.clear();
    EXPECT_FALSE(LlegeixResultats(fitxers, r, error));
    EXPECT_EQ(error.substr(0, esperat.size()), esperat);
  }
}

TEST(Resultats, ABrokenRecordIsAnErrorWithItsPlaceNeverACrash) {
  const t_dir dir;
  json sense_versio = Complet(1, false, 1);
  sense_versio.erase("version");
  json punts = Complet(1, false, 1);
  punts["robots"][0]["points"] = -5e6;  // once an index out of bounds in the table
  json tres = Complet(1, true, 1);
  tres["robots"].push_back(tres["robots"][0]);
  json text = Complet(1, false, 1);
  text["seed"] = "1";
  json joc = Complet(1, false, 1);
  joc["game"] = 7;  // in a tournament of one game
  json sol = Complet(1, true, 1, "./b", false);
  json durada = Complet(1, false, 1);
  durada["duration"] = 999;
  const std::pair<std::string, std::string> casos[] = {
      {sense_versio.dump(), "older format"},
      {punts.dump(), "points not between 0 and 1"},
      {tres.dump(), "swapped, but not two robots"},
      {text.dump(), "no seed"},
      {joc.dump(), "game 7 is not one of its tournament's"},
      {sol.dump(), "swapped, in an unpaired tournament"},
      {durada.dump(), "without its games, first game, pairing or duration"},
      {std::string(100000, '[') + std::string(100000, ']'), "not a game's record"},
      {"{\"seed\": 1,", "not a line of JSON"},
  };
  for (const auto& [linia, esperat] : casos) {
    std::vector<json> r;
    std::string error;
    const std::string f = Escriu(dir.cami + "/r.jsonl", {Complet(2, false, 0).dump(), linia});
    EXPECT_FALSE(LlegeixResultats({f}, r, error)) << esperat;
    EXPECT_EQ(error.rfind(f + ":2: ", 0), 0u) << error;
    EXPECT_NE(error.find(esperat), std::string::npos) << error;
  }
  // Whatever a mutated file holds, it is read or refused; what is read makes a table.
  std::mt19937 atzar(7);
  const std::string bo = Complet(3, false, 0.5).dump();
  for (int k = 0; k < 300; ++k) {
    std::string linia = bo;
    for (int m = 0; m < 3; ++m) {
      const size_t i = atzar() % linia.size();
      linia[i] = "0123456789-e.,:{}[]\"ab"[atzar() % 22];
    }
    std::vector<json> r;
    std::string error;
    const std::string f = Escriu(dir.cami + "/m.jsonl", {linia});
    EXPECT_NO_THROW(if (LlegeixResultats({f}, r, error)) TaulaResultats(r, t_sprt{}));
  }
}

TEST(Resultats, AContinuedFileLosesOnlyTheLineCutShort) {
  const t_dir dir;
  const std::string sencer = Complet(1, false, 1).dump();
  for (const auto& [final, linies] :
       std::vector<std::pair<std::string, size_t>>{{sencer.substr(0, 40), 1}, {sencer, 2}}) {
    const std::string f = dir.cami + "/r.jsonl";
    std::ofstream(f) << Complet(1, true, 1).dump() << "\n" << final;
    std::string error;
    ASSERT_TRUE(ReparaFinal(f, error)) << error;
    std::vector<json> r;
    EXPECT_TRUE(LlegeixResultats({f}, r, error)) << error;
    EXPECT_EQ(r.size(), linies);
  }
}

TEST(Taula, DropsAndTwoProgramsOfOneNameAreShown) {
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
}

TEST(Taula, UnpairedGamesAreTestedGameByGame) {
  std::vector<json> registres;
  for (uint64_t s = 1; s <= 300; ++s)
    registres.push_back(Complet(s, false, s % 4 == 0 ? 0 : 1, "./b", false));
  const std::string taula = TaulaResultats(registres, t_sprt{0, 20, 0.05, 0.05});
  EXPECT_NE(taula.find("single games, counted as if pairs"), std::string::npos) << taula;
  EXPECT_NE(taula.find("H1 accepted after "), std::string::npos) << taula;
  EXPECT_NE(taula.find(" games\n"), std::string::npos) << taula;
  EXPECT_NE(taula.find("the games up to the test's decision"), std::string::npos) << taula;
}

}  // namespace
