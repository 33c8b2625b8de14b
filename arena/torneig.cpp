// Tournaments: the runner that plays seeds on several threads and writes each game's record as
// it ends, and the table, which reads nothing but the records.
#include "arena/torneig.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "arena/proces.h"
#include "arena/repeticio.h"

namespace {

// A word of a shell command, quoted when it needs to be.
std::string Cita(const std::string& w) {
  if (!w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789_-./=:+,") == std::string::npos) {
    return w;
  }
  std::string o = "'";
  for (char c : w) o += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return o + "'";
}

// The seed, game and place order of a record: the order of the table.
auto Clau(const json& r) {
  return std::make_tuple(r.at("seed").get<uint64_t>(), r.at("game").get<int>(),
                         r.at("swapped").get<bool>());
}

std::string Nom(const json& robot) {
  return robot.at("name").get<std::string>();
}

// A row per robot, by place: for a melee, or games that were not played in pairs.
std::string TaulaPerRobot(const std::vector<json>& registres) {
  struct t_suma {
    std::string nom;
    int guanyades = 0, empats = 0, caigudes = 0, trets = 0, encerts = 0;
    double energia = 0, punts = 0;
  };
  std::vector<t_suma> sumes;
  for (const auto& r : registres) {
    const json& robots = r.at("robots");
    if (sumes.size() < robots.size()) sumes.resize(robots.size());
    for (size_t i = 0; i < robots.size(); ++i) {
      const json& f = robots[i];
      t_suma& s = sumes[i];
      if (s.nom.empty()) s.nom = Nom(f);
      const double punts = f.at("points").get<double>();
      // Only a robot tied for the lead draws; only a survivor keeps energy.
      s.guanyades += punts == 1;
      s.empats += punts > 0 && punts < 1;
      s.punts += punts;
      s.caigudes += f.at("status") == "dropped";
      s.trets += f.at("shots").get<int>();
      s.encerts += f.at("hits").get<int>();
      if (f.at("status") == "alive") s.energia += std::max(0.0, f.at("energy").get<double>());
    }
  }
  std::ostringstream o;
  char linia[256];
  std::snprintf(linia, sizeof linia, "%-16s %7s %5s %6s %8s %12s %6s %5s\n", "robot", "points",
                "wins", "draws", "dropped", "mean energy", "shots", "hits");
  o << linia;
  for (const auto& s : sumes) {
    std::snprintf(linia, sizeof linia, "%-16s %7.2f %5d %6d %8d %12.1f %6d %5d\n", s.nom.c_str(),
                  s.punts, s.guanyades, s.empats, s.caigudes,
                  s.energia / static_cast<double>(registres.size()), s.trets, s.encerts);
    o << linia;
  }
  return o.str();
}

// The pairs of a paired duel, in seed order: each seed and game played from both places.
std::vector<double> Parells(const std::vector<json>& registres) {
  std::map<std::pair<uint64_t, int>, std::pair<int, double>> per_llavor;  // games seen, score
  std::vector<std::pair<uint64_t, int>> ordre;
  for (const auto& r : registres) {
    const auto clau = std::make_pair(r.at("seed").get<uint64_t>(), r.at("game").get<int>());
    auto [it, nou] = per_llavor.try_emplace(clau, 0, 0.0);
    if (nou) ordre.push_back(clau);
    it->second.first += 1;
    it->second.second += PuntsPrimer(r);
  }
  std::vector<double> parells;
  for (const auto& clau : ordre) {
    const auto& [jocs, punts] = per_llavor[clau];
    if (jocs == 2) parells.push_back(punts / 2);
  }
  return parells;
}

void Compta(t_pentanomi& p, double punts) {
  ++p[static_cast<size_t>(std::lround(punts * 4))];
}

}  // namespace

double PuntsPrimer(const json& r) {
  const json& robots = r.at("robots");
  const size_t primer = r.at("swapped").get<bool>() ? 1 : 0;
  const double a = robots.at(primer).at("points").get<double>();
  const double b = robots.at(1 - primer).at("points").get<double>();
  return a + (1 - a - b) / 2;
}

json Registre(const t_config& config, const t_torneig& t, const t_resultat& r, bool invertit,
              const std::vector<std::string>& fitxers) {
  json robots = json::array();
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    const t_fitxa& f = r.fitxes[i];
    const t_cos_robot& lloc = r.quadres.front().robots[i];
    const bool caigut = f.estat.rfind("dropped: ", 0) == 0;
    robots.push_back({{"name", f.nom},
                      {"program", config.robots[i]},
                      {"x", lloc.x},
                      {"y", lloc.y},
                      {"heading", lloc.rumb},
                      {"energy", f.energia},
                      {"shots", f.trets},
                      {"hits", f.encerts},
                      {"cookies", f.galetes},
                      {"mines", f.mines},
                      {"cpu", f.cpu},
                      {"status", caigut ? "dropped" : f.estat},
                      {"reason", caigut ? f.estat.substr(9) : ""},
                      {"points", f.punts}});
  }
  std::string repeteix = t.arena;
  if (!t.partida.empty()) repeteix += " --match " + Cita(t.partida);
  std::ostringstream durada;
  durada << config.durada;
  repeteix += " --seed " + std::to_string(r.llavor) + " --time " + durada.str();
  if (config.jocs > 1 || r.joc != 1) repeteix += " --first-game " + std::to_string(r.joc);
  for (const auto& robot : config.robots) repeteix += " " + Cita(robot);
  return {{"seed", r.llavor},
          {"game", r.joc},
          {"swapped", invertit},
          {"robots", robots},
          {"winner", r.guanyador.empty() ? json(nullptr) : json(r.guanyador)},
          {"ticks", r.ticks},
          {"time", r.temps},
          {"duration", config.durada},
          {"replay", repeteix},
          {"files", fitxers}};
}

std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt) {
  std::sort(registres.begin(), registres.end(),
            [](const json& a, const json& b) { return Clau(a) < Clau(b); });
  std::ostringstream o;
  if (registres.empty()) return "Tournament: no game finished\n";
  const bool parells = std::any_of(registres.begin(), registres.end(),
                                   [](const json& r) { return r.at("swapped").get<bool>(); });
  const bool duel = std::all_of(registres.begin(), registres.end(),
                                [](const json& r) { return r.at("robots").size() == 2; });
  char linia[256];
  std::snprintf(linia, sizeof linia, "Tournament: %zu games, seeds %llu to %llu, %g s each\n",
                registres.size(),
                static_cast<unsigned long long>(registres.front().at("seed").get<uint64_t>()),
                static_cast<unsigned long long>(registres.back().at("seed").get<uint64_t>()),
                registres.front().at("duration").get<double>());
  o << linia;
  if (!duel) return o.str() + TaulaPerRobot(registres);

  // Two robots: the first robot's games, then the statistics of its score.
  const json& primer = registres.front();
  const size_t a = primer.at("swapped").get<bool>() ? 1 : 0;
  const std::string nom_a = Nom(primer.at("robots")[a]), nom_b = Nom(primer.at("robots")[1 - a]);
  t_pentanomi p{};
  std::vector<json> comptats;
  if (parells) {
    // Pair by pair in seed order, up to the test's decision if there is a test.
    const std::vector<double> punts = Parells(registres);
    size_t fins = punts.size();
    for (size_t k = 0; k < punts.size(); ++k) {
      Compta(p, punts[k]);
      if (sprt && Decideix(p, *sprt) != t_decisio::CONTINUA) {
        fins = k + 1;
        break;
      }
    }
    if (fins < punts.size()) {
      p = {};
      for (size_t k = 0; k < fins; ++k) Compta(p, punts[k]);
    }
    // The games of the pairs counted.
    std::map<std::pair<uint64_t, int>, int> jocs;
    for (const auto& r : registres) ++jocs[{r.at("seed").get<uint64_t>(), r.at("game").get<int>()}];
    size_t vistos = 0;
    std::pair<uint64_t, int> anterior{0, -1};
    for (const auto& r : registres) {
      const std::pair<uint64_t, int> clau{r.at("seed").get<uint64_t>(), r.at("game").get<int>()};
      if (jocs[clau] != 2) continue;
      if (clau != anterior) ++vistos, anterior = clau;
      if (vistos > fins) break;
      comptats.push_back(r);
    }
  } else {
    for (const auto& r : registres) {
      ++p[static_cast<size_t>(std::lround(PuntsPrimer(r) * 2)) * 2];
      comptats.push_back(r);
    }
  }
  int guanys = 0, empats = 0, derrotes = 0;
  double total = 0;
  for (const auto& r : comptats) {
    const double s = PuntsPrimer(r);
    guanys += s == 1;
    derrotes += s == 0;
    empats += s > 0 && s < 1;
    total += s;
  }
  if (comptats.size() < registres.size()) {
    o << "The figures below count " << comptats.size()
      << " of them: " << (sprt ? "the pairs up to the test's decision" : "the complete pairs")
      << "\n";
  }
  o << nom_a << " against " << nom_b
    << (parells ? " (each seed from both places)\n" : " (single games, counted as if pairs)\n");
  std::snprintf(linia, sizeof linia, "%-16s %6s %6s %6s %7s\n", "", "wins", "draws", "losses",
                "score");
  o << linia;
  std::snprintf(linia, sizeof linia, "%-16s %6d %6d %6d %7.3f\n", nom_a.c_str(), guanys, empats,
                derrotes, comptats.empty() ? 0.5 : total / static_cast<double>(comptats.size()));
  o << linia;
  std::snprintf(linia, sizeof linia,
                "%s: %ld, %ld, %ld, %ld, %ld (scoring 0, 0.25, 0.5, 0.75, 1)\n",
                parells ? "pairs" : "games as pairs", p[0], p[1], p[2], p[3], p[4]);
  o << linia;
  o << "Elo difference: " << TextElo(p) << "\n";
  if (sprt) o << TextSprt(p, *sprt) << " after " << Estima(p).parells << " pairs\n";
  return o.str();
}

std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres) {
  // Units of work in seed order: each seed, then (in pairs) the same seed with places swapped.
  const bool parells = t.parells && config.robots.size() == 2;
  struct t_unitat {
    uint64_t llavor;
    bool invertit;
  };
  std::vector<t_unitat> unitats;
  for (uint64_t s = t.primera;; ++s) {
    unitats.push_back({s, false});
    if (parells) unitats.push_back({s, true});
    if (s == t.darrera) break;
  }
  std::ofstream sortida(t.resultats, std::ios::trunc);
  std::mutex m;
  std::vector<json> registres;
  std::atomic<size_t> seguent{0};
  std::atomic<bool> decidit{false};
  // The test's state: the first robot's score summed per seed and game, the games each seed has
  // had, the next seed to feed to the test, and the pairs fed so far.
  std::map<std::pair<uint64_t, int>, double> sumes;
  std::map<uint64_t, int> per_llavor;
  uint64_t proxima = t.primera;
  t_pentanomi p{};
  auto Acaba = [&](const t_config& c, const std::vector<t_resultat>& jocs, bool invertit) {
    std::lock_guard<std::mutex> l(m);
    for (const auto& r : jocs) {
      if (r.interromput || r.fitxes.empty()) continue;
      // The files of the games worth a second look.
      std::vector<std::string> fitxers;
      const size_t a = invertit ? 1 : 0;
      const bool caiguda = std::any_of(r.fitxes.begin(), r.fitxes.end(), [](const t_fitxa& f) {
        return f.estat.rfind("dropped", 0) == 0;
      });
      const bool derrota = r.fitxes.size() >= 2 && r.fitxes[a].punts == 0 &&
                           std::any_of(r.fitxes.begin(), r.fitxes.end(),
                                       [](const t_fitxa& f) { return f.punts > 0; });
      if ((t.guarda_caigudes && caiguda) || (t.guarda_derrotes && derrota)) {
        std::string base = t.dir_guardats + "/match-" + std::to_string(r.llavor);
        if (invertit) base += ".swapped";
        if (c.jocs > 1 || r.joc != 1) base += ".g" + std::to_string(r.joc);
        std::string text;
        for (const auto& linia : r.transcripcio) text += linia + "\n";
        std::ofstream(base + ".txt") << text;
        std::ofstream(base + ".html") << PaginaRepeticio(c, r);
        std::ofstream(base + ".svg") << ImatgeSvg(c, r);
        fitxers = {base + ".txt", base + ".html", base + ".svg"};
      }
      registres.push_back(Registre(c, t, r, invertit, fitxers));
      sortida << registres.back().dump() << "\n";
      sortida.flush();
      sumes[{r.llavor, r.joc}] += PuntsPrimer(registres.back());
      ++per_llavor[r.llavor];
    }
    // The test looks at the pairs of the seeds complete from the first on, in seed order, so
    // that the decision does not depend on which match happened to end first. Each seed is fed
    // to it once, as soon as it and every seed before it are complete.
    if (t.sprt && parells && !decidit) {
      const int complet = 2 * std::max(1, c.jocs);
      while (!decidit && per_llavor[proxima] == complet) {
        for (auto it = sumes.lower_bound({proxima, INT_MIN});
             it != sumes.end() && it->first.first == proxima; it = sumes.erase(it)) {
          Compta(p, it->second / 2);
          if (Decideix(p, *t.sprt) != t_decisio::CONTINUA) {
            decidit = true;
            break;
          }
        }
        per_llavor.erase(proxima);
        if (proxima == t.darrera) break;
        ++proxima;
      }
      progres << Estima(p).parells << " pairs: " << TextSprt(p, *t.sprt) << "\n";
    }
    progres.flush();
  };

  const int fils =
      t.fils > 0 ? t.fils : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> treballadors;
  treballadors.reserve(static_cast<size_t>(fils));
  for (int f = 0; f < fils; ++f) {
    treballadors.emplace_back([&] {
      for (size_t k; !interrupcio && !decidit && (k = seguent++) < unitats.size();) {
        t_config c = config;
        c.llavor = unitats[k].llavor;
        if (unitats[k].invertit) {
          std::swap(c.robots[0], c.robots[1]);
          if (c.noms.size() == 2) std::swap(c.noms[0], c.noms[1]);
        }
        Acaba(c, JugaSerie(c), unitats[k].invertit);
      }
    });
  }
  for (auto& th : treballadors) th.join();
  return registres;
}

bool LlegeixResultats(const std::vector<std::string>& fitxers, std::vector<json>& registres,
                      std::string& error) {
  for (const auto& cami : fitxers) {
    std::ifstream f(cami);
    if (!f) {
      error = cami + ": cannot be read";
      return false;
    }
    int n = 0;
    for (std::string linia; std::getline(f, linia);) {
      ++n;
      if (linia.empty()) continue;
      const json r = json::parse(linia, nullptr, false);
      if (r.is_discarded() || !r.is_object() || !r.contains("seed") || !r.contains("robots")) {
        error = cami + ":" + std::to_string(n) + ": not a game's record";
        return false;
      }
      registres.push_back(r);
    }
  }
  return true;
}
