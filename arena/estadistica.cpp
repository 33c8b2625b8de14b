// The statistics of a two-robot tournament, computed from counts of pair scores only, so that a
// tally of results files gives the same figures as the run that wrote them.
#include "arena/estadistica.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace arena {

namespace {

const double kPuntsParell[5] = {0, 0.25, 0.5, 0.75, 1};

// Where a score goes in the pentanomial: a pair's score in quarters; a single game, counted as
// if a pair, scores 0, 0.5 or 1.
size_t Calaix(double punts, bool parell) {
  const long k = parell ? std::lround(punts * 4) : std::lround(punts * 2) * 2;
  return static_cast<size_t>(std::clamp(k, 0L, 4L));
}

std::string Signat(double x) {
  if (std::isinf(x)) return x > 0 ? "+inf" : "-inf";
  char b[32];
  std::snprintf(b, sizeof b, "%+.1f", x);
  return b;
}

}  // namespace

double Esperat(double elo) {
  return 1 / (1 + std::pow(10.0, -elo / 400));
}

double Elo(double s) {
  if (s <= 0) return -INFINITY;
  if (s >= 1) return INFINITY;
  return -400 * std::log10(1 / s - 1) + 0.0;  // + 0.0 turns -0 into 0
}

t_estimacio Estima(const t_pentanomi& p) {
  t_estimacio e;
  double suma = 0, quadrats = 0;
  for (int k = 0; k < 5; ++k) {
    e.parells += p[k];
    suma += p[k] * kPuntsParell[k];
    quadrats += p[k] * kPuntsParell[k] * kPuntsParell[k];
  }
  if (e.parells == 0) return e;
  const double n = static_cast<double>(e.parells);
  e.s = suma / n;
  e.var = std::max(0.0, quadrats / n - e.s * e.s);
  e.elo = Elo(e.s);
  const double err = std::sqrt(e.var / n);
  e.elo_lo = Elo(e.s - 1.959963984540054 * err);
  e.elo_hi = Elo(e.s + 1.959963984540054 * err);
  if (err > 0) {
    e.los = 0.5 * std::erfc(-(e.s - 0.5) / err / std::sqrt(2.0));
  } else {
    e.los = e.s > 0.5 ? 1 : e.s < 0.5 ? 0 : 0.5;
  }
  return e;
}

double t_sprt::Baixa() const {
  return std::log(beta / (1 - alfa));
}

double t_sprt::Alta() const {
  return std::log((1 - beta) / alfa);
}

double Llr(const t_pentanomi& p, const t_sprt& sprt) {
  const t_estimacio e = Estima(p);
  if (e.parells == 0) return 0;
  const double s0 = Esperat(sprt.elo0), s1 = Esperat(sprt.elo1);
  double banda = 2 * e.s - s0 - s1;
  // Symmetric bounds put the midpoint at 0.5 only up to rounding: a score on it is on it.
  if (std::abs(banda) < 1e-12) banda = 0;
  const double numerador = static_cast<double>(e.parells) * (s1 - s0) * banda;
  if (e.var > 0) return numerador / (2 * e.var);
  return numerador > 0 ? INFINITY : numerador < 0 ? -INFINITY : 0;
}

t_decisio Decideix(const t_pentanomi& p, const t_sprt& sprt) {
  const t_estimacio e = Estima(p);
  if (e.parells < MIN_PARELLS_SPRT) return t_decisio::CONTINUA;
  const double llr = Llr(p, sprt);
  if (llr >= sprt.Alta()) return t_decisio::H1;
  if (llr <= sprt.Baixa()) return t_decisio::H0;
  if (e.var == 0 && llr == 0) return t_decisio::INDECIDIBLE;
  return t_decisio::CONTINUA;
}

std::string MalsLimits(const t_sprt& sprt) {
  if (!std::isfinite(sprt.elo0) || !std::isfinite(sprt.elo1) || sprt.elo0 < -1000 ||
      sprt.elo1 > 1000) {
    return "ELO0 and ELO1 between -1000 and 1000";
  }
  if (!(sprt.elo1 - sprt.elo0 >= 0.5)) return "ELO1 at least 0.5 above ELO0";
  return "";
}

std::string TextElo(const t_pentanomi& p) {
  const t_estimacio e = Estima(p);
  if (e.parells == 0) return "no pairs yet";
  char b[160];
  if (e.var == 0) {
    std::snprintf(b, sizeof b,
                  "%s: every pair scored %.2f, so there is no spread to give an "
                  "interval from",
                  Signat(e.elo).c_str(), e.s);
    return b;
  }
  std::snprintf(b, sizeof b, "%s (95%%: %s to %s), LOS %.2f%%", Signat(e.elo).c_str(),
                Signat(e.elo_lo).c_str(), Signat(e.elo_hi).c_str(), 100 * e.los);
  return b;
}

std::string TextSprt(const t_pentanomi& p, const t_sprt& sprt) {
  const double llr = Llr(p, sprt);
  const t_decisio d = Decideix(p, sprt);
  char valor[32];
  if (std::isinf(llr)) {
    std::snprintf(valor, sizeof valor, "%s", llr > 0 ? "+inf" : "-inf");
  } else {
    std::snprintf(valor, sizeof valor, "%.2f", llr);
  }
  const char* que = d == t_decisio::H1   ? "H1 accepted"
                    : d == t_decisio::H0 ? "H0 accepted"
                    : d == t_decisio::INDECIDIBLE
                        ? "no decision: every pair scored the same, midway between the "
                          "hypotheses, and no number of pairs can change that"
                    : Estima(p).parells < MIN_PARELLS_SPRT ? "continue (too few pairs to decide)"
                                                           : "continue";
  char b[1000];
  std::snprintf(b, sizeof b,
                "SPRT elo0 %g elo1 %g (alpha %g, beta %g): LLR %s (bounds %.2f, %.2f): %s",
                sprt.elo0, sprt.elo1, sprt.alfa, sprt.beta, valor, sprt.Baixa(), sprt.Alta(), que);
  return b;
}

void t_parells::Afegeix(uint64_t llavor, int joc, double punts, size_t etiqueta) {
  espera[{llavor, joc}].emplace_back(punts, etiqueta);
}

size_t t_parells::EnEspera(uint64_t llavor) const {
  size_t n = 0;
  for (auto it = espera.lower_bound({llavor, INT_MIN});
       it != espera.end() && it->first.first == llavor; ++it) {
    n += it->second.size();
  }
  return n;
}

void t_parells::Compta(uint64_t fins) {
  auto it = espera.begin();
  for (; !decidit && it != espera.end() && it->first.first <= fins; it = espera.erase(it)) {
    const auto& s = it->second;
    if (parells && s.size() != 2) continue;
    if (parells) {
      ++p[Calaix((s[0].first + s[1].first) / 2, true)];
      comptats.insert(comptats.end(), {s[0].second, s[1].second});
      decidit = sprt && Decideix(p, *sprt) != t_decisio::CONTINUA;
      continue;
    }
    for (size_t k = 0; k < s.size() && !decidit; ++k) {
      ++p[Calaix(s[k].first, false)];
      comptats.push_back(s[k].second);
      decidit = sprt && Decideix(p, *sprt) != t_decisio::CONTINUA;
    }
  }
}

}  // namespace arena
