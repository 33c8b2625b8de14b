// The table of a tournament: names that tell two programs apart, the duel's statistics over the
// pairs the test counted, the melee's row per robot, and the drops with their commonest reason.
#include "arena/taula.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace arena {

namespace {

std::string Nom(const json& robot) {
  return robot.at("name").get<std::string>();
}

// The name before the "#N" the match added.
std::string NomBase(const std::string& nom) {
  return nom.substr(0, nom.rfind('#'));
}

// At most `n` bytes of `text`, cut at a character's start, with "..." where it was cut: a
// robot's name has no length of its own, and a table row must hold it.
std::string Retalla(const std::string& text, size_t n) {
  if (text.size() <= n) return text;
  size_t fi = n - 3;
  while (fi > 0 && (static_cast<unsigned char>(text[fi]) & 0xC0) == 0x80) --fi;
  return text.substr(0, fi) + "...";
}

// How each robot is shown, by its place in the tournament (the record's order, undone if it
// was swapped): its name, and its program too where two programs go by one name.
std::vector<std::string> Etiquetes(const json& r) {
  json robots = r.at("robots");
  if (r.at("swapped").get<bool>() && robots.size() == 2) std::swap(robots[0], robots[1]);
  std::vector<std::string> etiquetes;
  for (const auto& f : robots) {
    std::string e = Nom(f);
    for (const auto& g : robots) {
      if (&g != &f && NomBase(Nom(g)) == NomBase(e) &&
          g.value("program", "") != f.value("program", "")) {
        e += " (" + f.value("program", "") + ")";
        break;
      }
    }
    etiquetes.push_back(Retalla(e, 60));
  }
  return etiquetes;
}

// The robot at tournament place `k` of a record.
const json& Robot(const json& r, size_t k) {
  const json& robots = r.at("robots");
  return robots.at(r.at("swapped").get<bool>() && robots.size() == 2 ? 1 - k : k);
}

// A robot's status in a record, checked when the record was read (MalRobot).
t_estat_robot Estat(const json& robot) {
  t_estat_robot estat = t_estat_robot::VIU;
  LlegeixEstat(robot.at("status").get<std::string>(), estat);
  return estat;
}

bool Caigut(const json& robot) {
  return Estat(robot) == t_estat_robot::CAIGUT;
}

// For each robot dropped at least once: in how many games, and its most common reason.
std::string Caigudes(const std::vector<json>& registres, const std::vector<std::string>& noms) {
  std::vector<std::map<std::string, int>> motius(noms.size());
  size_t jocs = 0;
  for (const auto& r : registres) {
    bool alguna = false;
    for (size_t k = 0; k < noms.size() && k < r.at("robots").size(); ++k) {
      const json& f = Robot(r, k);
      if (!Caigut(f)) continue;
      alguna = true;
      ++motius[k][f.value("reason", "")];
    }
    jocs += alguna;
  }
  if (jocs == 0) return "";
  std::ostringstream o;
  o << "Games with a drop: " << jocs << "\n";
  for (size_t k = 0; k < noms.size(); ++k) {
    int total = 0;
    std::pair<std::string, int> sovint{"", 0};
    for (const auto& [motiu, n] : motius[k]) {
      total += n;
      if (n > sovint.second) sovint = {motiu, n};
    }
    if (total == 0) continue;
    o << "  " << noms[k] << " dropped in " << total << (total == 1 ? " game" : " games")
      << ", most often (" << sovint.second << "): " << sovint.first << "\n";
  }
  return o.str();
}

// The width of the tables' first column: 16, or the longest label (a name with its program).
int Amplada(const std::vector<std::string>& noms) {
  size_t ample = 16;
  for (const auto& n : noms) ample = std::max(ample, n.size());
  return static_cast<int>(std::min<size_t>(ample, 200));
}

// A row per robot, by place: for a melee.
std::string TaulaPerRobot(const std::vector<json>& registres) {
  struct t_suma {
    long long guanyades = 0, empats = 0, caigudes = 0, trets = 0, encerts = 0;
    double energia = 0, punts = 0;
  };
  const std::vector<std::string> noms = Etiquetes(registres.front());
  std::vector<t_suma> sumes(noms.size());
  for (const auto& r : registres) {
    const json& robots = r.at("robots");
    for (size_t i = 0; i < robots.size() && i < sumes.size(); ++i) {
      const json& f = robots[i];
      t_suma& s = sumes[i];
      const double punts = f.at("points").get<double>();
      // Only a robot tied for the lead draws; only a survivor keeps energy.
      s.guanyades += punts == 1;
      s.empats += punts > 0 && punts < 1;
      s.punts += punts;
      s.caigudes += Caigut(f);
      s.trets += f.at("shots").get<long long>();
      s.encerts += f.at("hits").get<long long>();
      if (Estat(f) == t_estat_robot::VIU) s.energia += std::max(0.0, f.at("energy").get<double>());
    }
  }
  std::ostringstream o;
  char linia[512];
  const int ample = Amplada(noms);
  std::snprintf(linia, sizeof linia, "%-*s %7s %5s %6s %8s %12s %6s %5s\n", ample, "robot",
                "points", "wins", "draws", "dropped", "mean energy", "shots", "hits");
  o << linia;
  for (size_t i = 0; i < sumes.size(); ++i) {
    const t_suma& s = sumes[i];
    std::snprintf(linia, sizeof linia, "%-*s %7.2f %5lld %6lld %8lld %12.1f %6lld %5lld\n", ample,
                  noms[i].c_str(), s.punts, s.guanyades, s.empats, s.caigudes,
                  s.energia / static_cast<double>(registres.size()), s.trets, s.encerts);
    o << linia;
  }
  return o.str() + Caigudes(registres, noms);
}

std::string Capcalera(const std::vector<json>& ordenats) {
  char linia[256];
  std::snprintf(linia, sizeof linia, "Tournament: %zu games, seeds %llu to %llu, %g s each\n",
                ordenats.size(),
                static_cast<unsigned long long>(ordenats.front().at("seed").get<uint64_t>()),
                static_cast<unsigned long long>(ordenats.back().at("seed").get<uint64_t>()),
                ordenats.front().at("duration").get<double>());
  return linia;
}

// Two robots: the first robot's games, then the statistics of its score.
std::string TaulaDuel(const std::vector<json>& ordenats, const std::optional<t_sprt>& sprt) {
  // Paired as the tournament was played; records made by hand may not say.
  const json& torneig = ordenats.front().value("tournament", json::object());
  const bool parells = torneig.contains("paired")
                           ? torneig["paired"].get<bool>()
                           : std::any_of(ordenats.begin(), ordenats.end(),
                                         [](const json& r) { return r.at("swapped").get<bool>(); });
  const std::vector<std::string> noms = Etiquetes(ordenats.front());
  t_parells comptador{parells, sprt};
  for (size_t i = 0; i < ordenats.size(); ++i) {
    comptador.Afegeix(ordenats[i].at("seed").get<uint64_t>(), ordenats[i].at("game").get<int>(),
                      PuntsPrimer(ordenats[i]), i);
  }
  comptador.Compta(UINT64_MAX);
  const t_pentanomi& p = comptador.p;
  std::vector<json> comptats;
  for (size_t i : comptador.comptats) comptats.push_back(ordenats[i]);
  int guanys = 0, empats = 0, derrotes = 0, caigudes[2] = {0, 0};
  double total = 0;
  for (const auto& r : comptats) {
    const double s = PuntsPrimer(r);
    guanys += s == 1;
    derrotes += s == 0;
    empats += s > 0 && s < 1;
    total += s;
    for (size_t k = 0; k < 2; ++k) caigudes[k] += Caigut(Robot(r, k));
  }
  std::ostringstream o;
  if (comptats.size() < ordenats.size()) {
    o << "The figures below count " << comptats.size() << " of them: "
      << (sprt ? (parells ? "the pairs up to the test's decision"
                          : "the games up to the test's decision")
               : "the complete pairs")
      << "\n";
  }
  o << noms[0] << " against " << noms[1]
    << (parells ? " (each seed from both places)\n" : " (single games, counted as if pairs)\n");
  char linia[512];
  const int ample = Amplada(noms);
  std::snprintf(linia, sizeof linia, "%-*s %6s %6s %6s %7s %7s\n", ample, "", "wins", "draws",
                "losses", "score", "drops");
  o << linia;
  const double mitjana = comptats.empty() ? 0.5 : total / static_cast<double>(comptats.size());
  std::snprintf(linia, sizeof linia, "%-*s %6d %6d %6d %7.3f %7d\n", ample, noms[0].c_str(), guanys,
                empats, derrotes, mitjana, caigudes[0]);
  o << linia;
  std::snprintf(linia, sizeof linia, "%-*s %6d %6d %6d %7.3f %7d\n", ample, noms[1].c_str(),
                derrotes, empats, guanys, 1 - mitjana, caigudes[1]);
  o << linia;
  std::snprintf(linia, sizeof linia,
                "%s: %ld, %ld, %ld, %ld, %ld (scoring 0, 0.25, 0.5, 0.75, 1)\n",
                parells ? "pairs" : "games as pairs", p[0], p[1], p[2], p[3], p[4]);
  o << linia;
  o << "Elo difference: " << TextElo(p) << "\n";
  if (sprt) {
    o << TextSprt(p, *sprt) << " after " << Estima(p).parells
      << (parells ? " pairs\n" : " games\n");
  }
  return o.str() + Caigudes(comptats, noms);
}

}  // namespace

std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt) {
  if (registres.empty()) return "Tournament: no game finished\n";
  std::sort(registres.begin(), registres.end(),
            [](const json& a, const json& b) { return Clau(a) < Clau(b); });
  const bool duel = std::all_of(registres.begin(), registres.end(),
                                [](const json& r) { return r.at("robots").size() == 2; });
  return Capcalera(registres) + (duel ? TaulaDuel(registres, sprt) : TaulaPerRobot(registres));
}

}  // namespace arena
