// What a game gives each robot, and the summary on screen of a match or a series: both read the
// game's record alone.
#include "arena/resum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <locale>
#include <sstream>

namespace arena {

std::vector<double> Punts(const std::vector<t_fitxa>& fitxes) {
  std::vector<double> punts(fitxes.size(), 0.0);
  double millor = -INFINITY;
  for (const auto& f : fitxes) {
    if (f.desenllac.estat == t_estat_robot::VIU) millor = std::max(millor, f.energia);
  }
  std::vector<size_t> primers;
  for (size_t i = 0; i < fitxes.size(); ++i) {
    if (fitxes[i].desenllac.estat == t_estat_robot::VIU && fitxes[i].energia == millor) {
      primers.push_back(i);
    }
  }
  for (size_t i : primers) punts[i] = 1.0 / static_cast<double>(primers.size());
  return punts;
}

std::string Resum(const t_config& config, const t_resultat& r) {
  std::ostringstream o;
  o.imbue(std::locale::classic());
  char linia[512];
  const std::string que = config.jocs > 1 || r.joc != 1
                              ? "Game " + std::to_string(r.joc) + ", seed "
                              : std::string("Match: seed ");
  const unsigned long long llavor = config.llavor;
  if (r.interromput) {
    std::snprintf(linia, sizeof linia, "%s%llu, interrupted at %.2f s (%d ticks) of %g s\n",
                  que.c_str(), llavor, r.temps, r.ticks, config.durada);
  } else {
    std::snprintf(linia, sizeof linia, "%s%llu, %.2f s of game time (%d ticks) of %g s\n",
                  que.c_str(), llavor, r.temps, r.ticks, config.durada);
  }
  o << linia;
  std::snprintf(linia, sizeof linia, "%-16s %6s %5s %8s %6s %8s  %s\n", "robot", "shots", "hits",
                "cookies", "mines", "energy", "status");
  o << linia;
  for (const auto& f : r.fitxes) {
    std::snprintf(linia, sizeof linia, "%-16s %6d %5d %8d %6d %8.1f  %s\n", f.nom.c_str(), f.trets,
                  f.encerts, f.galetes, f.mines, f.energia, Descriu(f.desenllac).c_str());
    o << linia;
  }
  o << "Winner: " << (r.guanyador.empty() ? "none (draw)" : r.guanyador) << "\n";
  for (const auto& f : r.fitxes) {
    if (!f.err.empty()) o << f.nom << " wrote to its standard error: " << f.err << "\n";
  }
  return o.str();
}

std::string ResumSerie(const t_config& config, const std::vector<t_resultat>& jocs) {
  std::ostringstream o;
  for (const auto& r : jocs) o << Resum(config, r) << "\n";
  o << "Series: " << jocs.size() << " of " << config.jocs << " games, seed " << config.llavor
    << "\n";
  std::vector<double> punts;
  std::vector<int> guanyats;
  for (const auto& r : jocs) {
    punts.resize(r.fitxes.size());
    guanyats.resize(r.fitxes.size());
    for (size_t i = 0; i < r.fitxes.size(); ++i) {
      punts[i] += r.fitxes[i].punts;
      guanyats[i] += r.fitxes[i].punts == 1;
    }
  }
  char linia[256];
  std::snprintf(linia, sizeof linia, "%-16s %7s %5s\n", "robot", "points", "wins");
  o << linia;
  for (size_t i = 0; i < punts.size(); ++i) {
    std::snprintf(linia, sizeof linia, "%-16s %7.2f %5d\n", jocs.back().fitxes[i].nom.c_str(),
                  punts[i], guanyats[i]);
    o << linia;
  }
  return o.str();
}

}  // namespace arena
