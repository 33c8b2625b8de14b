// How sure a tournament is that one robot is better than another: pairs of games scored as a
// pentanomial, the logistic Elo difference with its 95% interval, the likelihood of
// superiority, and a sequential probability ratio test that stops once the answer is clear.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace arena {

// How many pairs scored 0, 0.25, 0.5, 0.75 and 1 (a pair: one seed played from both places).
using t_pentanomi = std::array<long, 5>;

struct t_estimacio {
  long parells = 0;
  double s = 0.5;     // mean pair score
  double var = 0;     // variance of the pair scores (over the pairs, not corrected)
  double elo = 0;     // −400·log10(1/s − 1); ±infinity for a score of 1 or 0
  double elo_lo = 0;  // the 95% interval: s ± 1.96·σ/√N through the same function
  double elo_hi = 0;
  double los = 0.5;  // likelihood of superiority: Φ((s − 0.5)/(σ/√N))
};

// Scores as if each game were a pair (0, 0.5 or 1 go to the counts of 0, 0.5 and 1).
t_estimacio Estima(const t_pentanomi& p);

// The expected score of an Elo difference.
double Esperat(double elo);
// The Elo difference of an expected score.
double Elo(double s);

struct t_sprt {
  double elo0 = 0, elo1 = 5, alfa = 0.05, beta = 0.05;
  double Baixa() const;  // ln(β/(1−α)): below it, H0 (no better than ELO0) is accepted
  double Alta() const;   // ln((1−β)/α): above it, H1 (at least ELO1) is accepted
};

// No decision is taken on fewer pairs: the normal approximation needs some.
constexpr long MIN_PARELLS_SPRT = 10;

// The log-likelihood ratio of H1 against H0: N·(s1 − s0)·(2s − s0 − s1)/(2σ²). With no spread
// at all (every pair alike) it is the formula's limit: ±infinity, 0 exactly at the midpoint.
double Llr(const t_pentanomi& p, const t_sprt& sprt);

// INDECIDIBLE: every pair scored the same, exactly midway between the hypotheses: the ratio
// is 0 and stays 0, so no number of pairs can decide, and the test stops saying so.
enum class t_decisio { CONTINUA, H0, H1, INDECIDIBLE };

// Why the bounds cannot make a test, or empty: equal or nearly equal expected scores, or
// differences so large that their expected scores round to 0 or 1.
std::string MalsLimits(const t_sprt& sprt);
t_decisio Decideix(const t_pentanomi& p, const t_sprt& sprt);

// "+52.5 (95%: +16.3 to +89.9), LOS 99.78%", or what can be said when that cannot.
std::string TextElo(const t_pentanomi& p);
// "LLR 2.51 (bounds -2.94, 2.94): continue" and the like.
std::string TextSprt(const t_pentanomi& p, const t_sprt& sprt);

// The first robot's scores as the statistics count them: in pairs (a seed and game played from
// both places) or, unpaired, game by game; in seed and game order; up to the test's decision.
// Scores come in whatever order games end; the running test and the table both count here, so
// that a tally of the records decides where the tournament decided.
struct t_parells {
  t_parells(bool en_parells, const std::optional<t_sprt>& test) : parells(en_parells), sprt(test) {}

  bool parells;
  std::optional<t_sprt> sprt;  // without one, nothing is decided
  t_pentanomi p{};
  bool decidit = false;
  std::vector<size_t> comptats;  // the tags of the scores counted, in the order counted

  // One game's score for the first robot, tagged (with a record's index) to be told apart.
  void Afegeix(uint64_t llavor, int joc, double punts, size_t etiqueta);
  // How many scores of seed `llavor` wait to be counted.
  size_t EnEspera(uint64_t llavor) const;
  // Counts in order what waits up to seed `fins`: each complete pair (or game), passing over a
  // pair left incomplete, as nothing more of it will come; stops at the test's decision.
  void Compta(uint64_t fins);

  // By seed and game: the scores not counted yet, with their tags.
  std::map<std::pair<uint64_t, int>, std::vector<std::pair<double, size_t>>> espera;
};

}  // namespace arena
