// Tournament statistics without a process: the pentanomial Elo and its interval, the likelihood
// of superiority, the sequential test against a worked example, its degenerate cases and its
// error rate on simulated pairs, and the counting of pairs in seed order up to the decision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "arena/estadistica.h"

using namespace arena;

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
  // With no spread, LOS is certainty either way, and a coin toss on exactly one half.
  EXPECT_EQ(Estima(iguals).los, 0.5);
  EXPECT_EQ(Estima(guanys).los, 1);
  EXPECT_EQ(Estima(derrotes).los, 0);
  EXPECT_EQ(Estima({0, 12, 0, 0, 0}).los, 0);
  // Nothing is decided on too few pairs, nor said about none; the text says why it goes on.
  EXPECT_EQ(Decideix({0, 0, 0, 0, 9}, sprt), t_decisio::CONTINUA);
  EXPECT_EQ(Decideix({0, 0, 0, 0, 10}, sprt), t_decisio::H1);
  const auto Diu = [&](const t_pentanomi& p) {
    const std::string text = TextSprt(p, sprt);
    return text.substr(text.rfind(": ") + 2);
  };
  EXPECT_EQ(Diu({1, 2, 3, 2, 1}), "continue (too few pairs to decide)");
  EXPECT_EQ(Diu({1, 2, 4, 2, 1}), "continue");
  // Mirrored robots midway between symmetric bounds: no rounding picks a side, and the test
  // stops rather than play for ever.
  for (double elo : {1.0, 3.0, 5.0}) {
    EXPECT_EQ(Llr(iguals, {-elo, elo, 0.05, 0.05}), 0) << elo;
    EXPECT_EQ(Decideix(iguals, {-elo, elo, 0.05, 0.05}), t_decisio::INDECIDIBLE) << elo;
  }
  // With a spread, a score midway is only where the test stands for now: it goes on.
  EXPECT_EQ(Llr({1, 2, 4, 2, 1}, {-5, 5, 0.05, 0.05}), 0);
  EXPECT_EQ(Decideix({1, 2, 4, 2, 1}, {-5, 5, 0.05, 0.05}), t_decisio::CONTINUA);
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

// The first robot's score in the game of seed `s` from place order `invertit`: it wins nearly
// everything, draws now and then from the second place.
double Punts(uint64_t s, bool invertit) {
  return invertit && s % 3 == 0 ? 0.5 : 1;
}

// Feeds the scores in the order given as a running tournament does: a seed counts once it and
// every seed before it are complete. Returns the counter.
t_parells EnMarxa(const std::vector<std::pair<uint64_t, bool>>& ordre, const t_sprt& sprt) {
  t_parells c(true, sprt);
  uint64_t proxima = 1;
  for (size_t k = 0; k < ordre.size(); ++k) {
    c.Afegeix(ordre[k].first, 1, Punts(ordre[k].first, ordre[k].second), k);
    while (!c.decidit && c.EnEspera(proxima) == 2) c.Compta(proxima++);
  }
  return c;
}

TEST(Estadistica, PairsCountInSeedOrderUpToTheDecisionWhateverOrderGamesEnd) {
  const t_sprt sprt{0, 20, 0.05, 0.05};
  std::vector<std::pair<uint64_t, bool>> jocs;
  for (uint64_t s = 1; s <= 40; ++s) jocs.insert(jocs.end(), {{s, false}, {s, true}});
  // All the records at once, as a table reads them.
  t_parells taula(true, sprt);
  for (size_t k = 0; k < jocs.size(); ++k) {
    taula.Afegeix(jocs[k].first, 1, Punts(jocs[k].first, jocs[k].second), k);
  }
  taula.Compta(UINT64_MAX);
  ASSERT_TRUE(taula.decidit);
  EXPECT_EQ(Decideix(taula.p, sprt), t_decisio::H1);
  EXPECT_EQ(taula.comptats.size(), 20u);  // ten pairs: the fewest the test decides on
  std::mt19937_64 gen(7);
  for (int prova = 0; prova < 20; ++prova) {
    std::vector<std::pair<uint64_t, bool>> ordre = jocs;
    std::shuffle(ordre.begin(), ordre.end(), gen);
    const t_parells marxa = EnMarxa(ordre, sprt);
    EXPECT_TRUE(marxa.decidit);
    EXPECT_EQ(marxa.p, taula.p);
    std::set<std::pair<uint64_t, bool>> a, b;
    for (size_t k : marxa.comptats) a.insert(ordre[k]);
    for (size_t k : taula.comptats) b.insert(jocs[k]);
    EXPECT_EQ(a, b);
  }
}

TEST(Estadistica, AnIncompletePairHoldsTheRunningTestAndIsPassedOverByTheTable) {
  // Seed 2 played from one place only: while it runs, seed 2 may still come; once all is
  // in, it never will.
  std::vector<std::pair<uint64_t, bool>> jocs = {{1, false}, {1, true}, {2, true}};
  for (uint64_t s = 3; s <= 6; ++s) jocs.insert(jocs.end(), {{s, false}, {s, true}});
  const t_parells marxa = EnMarxa(jocs, t_sprt{});
  EXPECT_EQ(marxa.comptats, (std::vector<size_t>{0, 1}));
  t_parells taula(true, std::nullopt);
  for (size_t k = 0; k < jocs.size(); ++k) {
    taula.Afegeix(jocs[k].first, 1, Punts(jocs[k].first, jocs[k].second), k);
  }
  taula.Compta(UINT64_MAX);
  EXPECT_FALSE(taula.decidit);
  EXPECT_EQ(taula.comptats, (std::vector<size_t>{0, 1, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(taula.p, (t_pentanomi{0, 0, 0, 2, 3}));
  // Unpaired, each game counts on its own, and the test can stop within a seed's games.
  t_parells sols(false, t_sprt{0, 20, 0.05, 0.05});
  for (size_t k = 0; k < 30; ++k) sols.Afegeix(1 + k / 15, static_cast<int>(k % 15), 1, k);
  sols.Compta(UINT64_MAX);
  EXPECT_TRUE(sols.decidit);
  EXPECT_EQ(sols.comptats.size(), 10u);
  EXPECT_EQ(sols.p, (t_pentanomi{0, 0, 0, 0, 10}));
}

}  // namespace
