// Tournaments: the runner that plays seeds on several threads and writes each game's record as
// it ends, the reading and checking of results files, and the table, which reads only records.
#include "arena/torneig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "arena/proces.h"
#include "arena/repeticio.h"
#include "arena/sortida.h"
#include "arena/text.h"

namespace {

// A word of a shell command, quoted when it needs to be.
std::string Cita(const std::string& w) {
  if (!w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789_-./=:+,") == std::string::npos) {
    return w;
  }
  const bool imprimible =
      std::all_of(w.begin(), w.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
  if (!imprimible) {
    // Bytes a record could not hold as they are (not UTF-8, control characters) go as bash's
    // $'\xNN', so that the replay command stays pure ASCII and still runs.
    std::string o = "$'";
    char hex[8];
    for (unsigned char c : w) {
      if (c >= 0x20 && c < 0x7f && c != '\'' && c != '\\') {
        o += static_cast<char>(c);
      } else {
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        o += hex;
      }
    }
    return o + "'";
  }
  std::string o = "'";
  for (char c : w) o += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return o + "'";
}

// Robot text may hold bytes that are not UTF-8: a record keeps them as replacement characters
// rather than failing to be written.
std::string Linia(const json& r) {
  return r.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

// The seed, game and place order of a record: the order of the table.
auto Clau(const json& r) {
  return std::make_tuple(r.at("seed").get<uint64_t>(), r.at("game").get<int>(),
                         r.at("swapped").get<bool>());
}

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

// Where a score goes in the pentanomial: a pair's score in quarters; a single game, counted as
// if a pair, scores 0, 0.5 or 1.
size_t Calaix(double punts, bool parell) {
  const long k = parell ? std::lround(punts * 4) : std::lround(punts * 2) * 2;
  return static_cast<size_t>(std::clamp(k, 0L, 4L));
}

// What the statistics count, in seed order: each pair (a seed and game played from both places)
// or, unpaired, each game; with the records it is made of.
struct t_punt {
  double punts;
  std::vector<size_t> registres;
};

std::vector<t_punt> Punts(const std::vector<json>& ordenats, bool parells) {
  std::vector<t_punt> punts;
  if (!parells) {
    for (size_t i = 0; i < ordenats.size(); ++i) punts.push_back({PuntsPrimer(ordenats[i]), {i}});
    return punts;
  }
  for (size_t i = 0; i < ordenats.size();) {
    size_t j = i;
    const auto clau =
        std::make_pair(ordenats[i].at("seed").get<uint64_t>(), ordenats[i].at("game").get<int>());
    double suma = 0;
    std::vector<size_t> de;
    for (; j < ordenats.size() && std::make_pair(ordenats[j].at("seed").get<uint64_t>(),
                                                 ordenats[j].at("game").get<int>()) == clau;
         ++j) {
      suma += PuntsPrimer(ordenats[j]);
      de.push_back(j);
    }
    if (de.size() == 2) punts.push_back({suma / 2, de});
    i = j;
  }
  return punts;
}

// How many of `punts` count: all of them, or those up to the test's decision.
size_t FinsDecisio(const std::vector<t_punt>& punts, bool parells,
                   const std::optional<t_sprt>& sprt) {
  if (!sprt) return punts.size();
  t_pentanomi p{};
  for (size_t k = 0; k < punts.size(); ++k) {
    ++p[Calaix(punts[k].punts, parells)];
    if (Decideix(p, *sprt) != t_decisio::CONTINUA) return k + 1;
  }
  return punts.size();
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
  const std::vector<t_punt> punts = Punts(ordenats, parells);
  const size_t fins = FinsDecisio(punts, parells, sprt);
  t_pentanomi p{};
  std::vector<json> comptats;
  for (size_t k = 0; k < fins; ++k) {
    ++p[Calaix(punts[k].punts, parells)];
    for (size_t i : punts[k].registres) comptats.push_back(ordenats[i]);
  }
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

// One unit of work: a seed, played from one place order, every game of its series.
struct t_unitat {
  uint64_t llavor;
  bool invertit;
};

// Progress of a running tournament on standard error: on a terminal one line rewritten in
// place; elsewhere a line every few seconds, so that a log is not flooded.
struct t_progres {
  std::ostream& o;
  bool terminal;
  size_t total;  // games to play this run, at most
  bool fins_a;   // the test may end it sooner
  size_t fets = 0;
  std::chrono::steady_clock::time_point inici = std::chrono::steady_clock::now(), darrer{};

  void Mostra(const std::string& estat, bool final) {
    const auto ara = std::chrono::steady_clock::now();
    const double interval = terminal ? 0.2 : 5;
    if (!final && std::chrono::duration<double>(ara - darrer).count() < interval) return;
    if (final && !terminal && darrer == std::chrono::steady_clock::time_point{}) return;
    darrer = ara;
    const double segons = std::chrono::duration<double>(ara - inici).count();
    const double ritme = segons > 0 ? static_cast<double>(fets) / segons : 0;
    char linia[160];
    std::snprintf(linia, sizeof linia, "%zu/%zu games, %.1f games/s, %s%.0f s left", fets, total,
                  ritme, fins_a ? "at most " : "",
                  ritme > 0 ? static_cast<double>(total - std::min(fets, total)) / ritme : 0);
    o << (terminal ? "\r\033[K" : "") << linia << (estat.empty() ? "" : "; ") << estat
      << (terminal && !final ? "" : "\n");
    o.flush();
  }
};

// The first robot's score and Elo so far, and the test's state, in a few words.
std::string EstatCurt(const t_pentanomi& p, const std::optional<t_sprt>& sprt) {
  const t_estimacio e = Estima(p);
  if (e.parells == 0) return "";
  char b[200];
  int n = std::snprintf(b, sizeof b, "score %.3f", e.s);
  if (e.var > 0 && std::isfinite(e.elo_lo) && std::isfinite(e.elo_hi)) {
    n += std::snprintf(b + n, sizeof b - static_cast<size_t>(n), ", Elo %+.1f ± %.1f", e.elo,
                       (e.elo_hi - e.elo_lo) / 2);
  }
  if (sprt) {
    std::snprintf(b + n, sizeof b - static_cast<size_t>(n), ", LLR %.2f (%.2f, %.2f)",
                  Llr(p, *sprt), sprt->Baixa(), sprt->Alta());
  }
  return b;
}

// The running tournament: records, the results file, the test fed in seed order.
struct t_marxa {
  const t_config& config;
  const t_torneig& t;
  const json empremta;
  const bool parells;
  int fd = -1;
  std::mutex m;
  std::vector<json> registres;
  std::set<std::tuple<uint64_t, int, bool>> fets;  // seed, game, swapped of every record
  std::atomic<bool> decidit{false}, aturat{false};
  std::string error;
  // The test: the first robot's scores by seed and game, the games each seed has had, the next
  // seed to feed, and the counts fed so far.
  std::map<std::pair<uint64_t, int>, std::vector<double>> punts;
  std::map<uint64_t, int> per_llavor;
  uint64_t proxima;
  t_pentanomi p{};
  t_progres progres;

  t_marxa(const t_config& c, const t_torneig& tt, std::ostream& o, size_t total)
      : config(c),
        t(tt),
        empremta(Empremta(c, tt)),
        parells(tt.parells && c.robots.size() == 2),
        proxima(tt.primera),
        progres{o, tt.progres_terminal, total, tt.sprt.has_value()} {}

  void Falla(const std::string& que) {
    if (error.empty()) error = que;
    aturat = true;
  }

  // Each seed goes to the statistics once, as soon as it and every seed before it are complete,
  // so that the decision does not depend on which match happened to end first.
  void Alimenta() {
    if (config.robots.size() != 2) return;
    const int complet = (parells ? 2 : 1) * std::max(1, config.jocs);
    while (!decidit && per_llavor[proxima] == complet) {
      for (auto it = punts.lower_bound({proxima, INT_MIN});
           it != punts.end() && it->first.first == proxima; it = punts.erase(it)) {
        const std::vector<double>& s = it->second;
        if (parells) {
          ++p[Calaix((s[0] + s[1]) / 2, true)];
        } else {
          ++p[Calaix(s[0], false)];
        }
        if (t.sprt && Decideix(p, *t.sprt) != t_decisio::CONTINUA) {
          decidit = true;
          break;
        }
      }
      per_llavor.erase(proxima);
      if (proxima == t.darrera) break;
      ++proxima;
    }
  }

  void Compta(const json& r) {
    const auto clau = Clau(r);
    fets.insert(clau);
    punts[{std::get<0>(clau), std::get<1>(clau)}].push_back(
        config.robots.size() == 2 ? PuntsPrimer(r) : 0);
    ++per_llavor[std::get<0>(clau)];
  }

  std::vector<std::string> Guarda(const t_config& c, const t_resultat& r, bool invertit,
                                  const std::string& base);
  void Acaba(const t_config& c, const std::vector<t_resultat>& jocs, bool invertit,
             const std::string& base);
};

std::string Base(const t_torneig& t, const t_unitat& u) {
  return t.dir_guardats + "/match-" + std::to_string(u.llavor) + (u.invertit ? ".swapped" : "");
}

// The transcript, replay and picture of a game worth a second look.
std::vector<std::string> t_marxa::Guarda(const t_config& c, const t_resultat& r, bool invertit,
                                         const std::string& base) {
  const size_t a = invertit ? 1 : 0;
  const bool caiguda = std::any_of(r.fitxes.begin(), r.fitxes.end(), [](const t_fitxa& f) {
    return f.desenllac.estat == t_estat_robot::CAIGUT;
  });
  const bool derrota =
      r.fitxes.size() >= 2 && r.fitxes[a].punts == 0 &&
      std::any_of(r.fitxes.begin(), r.fitxes.end(), [](const t_fitxa& f) { return f.punts > 0; });
  if (!t.guarda_tots && !(t.guarda_caigudes && caiguda) && !(t.guarda_derrotes && derrota)) {
    return {};
  }
  const std::string nom = base + (c.jocs > 1 || r.joc != 1 ? ".g" + std::to_string(r.joc) : "");
  std::string text;
  for (const auto& linia : r.transcripcio) text += linia + "\n";
  const std::pair<std::string, std::string> fitxers[] = {{nom + ".txt", text},
                                                         {nom + ".html", PaginaRepeticio(c, r)},
                                                         {nom + ".svg", ImatgeSvg(c, r)}};
  std::vector<std::string> fets_ara;
  for (const auto& [cami, contingut] : fitxers) {
    const std::string per_que = Desa(cami, contingut);
    if (!per_que.empty()) {
      Falla("cannot write " + per_que);
      break;
    }
    fets_ara.push_back(cami);
  }
  return fets_ara;
}

void t_marxa::Acaba(const t_config& c, const std::vector<t_resultat>& jocs, bool invertit,
                    const std::string& base) {
  std::lock_guard<std::mutex> l(m);
  // A game the arena itself could not play as asked (a robot it could not start, a field it
  // could not lay out) is no robot's doing: it is not recorded, and the tournament stops.
  for (const auto& r : jocs) {
    if (!r.error_arena.empty()) {
      Falla(r.error_arena);
      return;
    }
  }
  for (const auto& r : jocs) {
    if (r.interromput || r.fitxes.empty()) continue;
    if (fets.count({r.llavor, r.joc, invertit})) continue;  // recorded before a --resume
    if (!error.empty()) break;
    std::vector<std::string> fitxers = Guarda(c, r, invertit, base);
    for (const auto& f : r.fitxes) {
      if (!f.err.empty() && std::find(fitxers.begin(), fitxers.end(), f.err) == fitxers.end()) {
        fitxers.push_back(f.err);
      }
    }
    json registre = Registre(c, t, empremta, r, invertit, fitxers);
    if (!EscriuTot(fd, Linia(registre))) {
      Falla("cannot write " + t.resultats + ": " + std::strerror(errno));
      break;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_nlink == 0) {
      Falla("cannot write " + t.resultats + ": it was removed while the tournament ran");
      break;
    }
    Compta(registre);
    registres.push_back(std::move(registre));
    ++progres.fets;
  }
  Alimenta();
  progres.Mostra(config.robots.size() == 2 ? EstatCurt(p, t.sprt) : "", false);
}

// The units of the tournament in seed order, without those a --resume finds complete.
std::vector<t_unitat> Unitats(const t_config& config, const t_torneig& t, const t_marxa& marxa) {
  std::vector<t_unitat> unitats;
  for (uint64_t s = t.primera;; ++s) {
    for (bool invertit : {false, true}) {
      if (invertit && !marxa.parells) continue;
      bool complet = true;
      for (int k = 0; k < std::max(1, config.jocs) && complet; ++k) {
        complet = marxa.fets.count({s, config.primer_joc + k, invertit}) > 0;
      }
      if (!complet) unitats.push_back({s, invertit});
    }
    if (s == t.darrera) break;
  }
  return unitats;
}

}  // namespace

double PuntsPrimer(const json& r) {
  const json& robots = r.at("robots");
  const size_t primer = r.at("swapped").get<bool>() ? 1 : 0;
  const double a = robots.at(primer).at("points").get<double>();
  const double b = robots.at(1 - primer).at("points").get<double>();
  return a + (1 - a - b) / 2;
}

json Empremta(const t_config& config, const t_torneig& t) {
  double opcions[NUM_OPCIONS];
  OpcionsPerDefecte(opcions);
  json o = json::array();
  for (int k = 0; k < NUM_OPCIONS; ++k) {
    o.push_back(std::isnan(config.opcions[k]) ? opcions[k] : config.opcions[k]);
  }
  o[OPT_DURADA] = config.durada;
  std::vector<std::string> programes;
  for (const auto& r : config.robots) programes.push_back(TextNet(r));
  return {{"programs", programes},
          {"names", config.noms},
          {"match", t.partida},
          {"duration", config.durada},
          {"tick", config.dt},
          {"options", o},
          {"field", {config.amplada, config.alcada}},
          {"games", config.jocs},
          {"first_game", config.primer_joc},
          {"paired", t.parells && config.robots.size() == 2}};
}

json Registre(const t_config& config, const t_torneig& t, const json& empremta, const t_resultat& r,
              bool invertit, const std::vector<std::string>& fitxers) {
  json robots = json::array();
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    const t_fitxa& f = r.fitxes[i];
    const t_cos_robot& lloc = r.quadres.front().robots[i];
    robots.push_back({{"name", f.nom},
                      {"program", TextNet(config.robots[i])},
                      {"x", lloc.x},
                      {"y", lloc.y},
                      {"heading", lloc.rumb},
                      {"energy", f.energia},
                      {"shots", f.trets},
                      {"hits", f.encerts},
                      {"cookies", f.galetes},
                      {"mines", f.mines},
                      {"cpu", f.cpu},
                      {"status", Paraula(f.desenllac.estat)},
                      {"reason", Descriu(f.desenllac.motiu)},
                      {"stderr", f.err.empty() ? json(nullptr) : json(f.err)},
                      {"points", f.punts}});
  }
  std::string repeteix = t.arena;
  if (!t.partida.empty()) repeteix += " --match " + Cita(t.partida);
  std::ostringstream durada;
  durada << config.durada;
  repeteix += " --seed " + std::to_string(r.llavor) + " --time " + durada.str();
  if (config.jocs > 1 || r.joc != 1) repeteix += " --first-game " + std::to_string(r.joc);
  for (size_t i = 0; i < config.noms.size(); ++i) {
    if (!config.noms[i].empty()) repeteix += " --name " + Cita(config.noms[i]);
  }
  if (!config.aillat) repeteix += " --no-sandbox";
  for (const auto& robot : config.robots) repeteix += " " + Cita(robot);
  return {{"version", VERSIO_REGISTRE},
          {"seed", r.llavor},
          {"game", r.joc},
          {"swapped", invertit},
          {"robots", robots},
          {"winner", r.guanyador.empty() ? json(nullptr) : json(r.guanyador)},
          {"ticks", r.ticks},
          {"time", r.temps},
          {"duration", config.durada},
          {"tournament", empremta},
          {"replay", repeteix},
          {"files", fitxers}};
}

std::string TaulaResultats(std::vector<json> registres, const std::optional<t_sprt>& sprt) {
  if (registres.empty()) return "Tournament: no game finished\n";
  std::sort(registres.begin(), registres.end(),
            [](const json& a, const json& b) { return Clau(a) < Clau(b); });
  const bool duel = std::all_of(registres.begin(), registres.end(),
                                [](const json& r) { return r.at("robots").size() == 2; });
  return Capcalera(registres) + (duel ? TaulaDuel(registres, sprt) : TaulaPerRobot(registres));
}

std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres,
                              std::string* error) {
  t_marxa marxa(config, t, progres, 0);
  for (const auto& r : t.previs) marxa.Compta(r);
  marxa.registres = t.previs;
  marxa.Alimenta();
  const std::vector<t_unitat> unitats = Unitats(config, t, marxa);
  marxa.progres.total = unitats.size() * static_cast<size_t>(std::max(1, config.jocs));

  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (t.previs.empty() ? O_TRUNC : O_APPEND);
  marxa.fd = t.fd_resultats >= 0 ? t.fd_resultats : open(t.resultats.c_str(), flags, 0644);
  if (marxa.fd < 0) marxa.Falla("cannot write " + t.resultats + ": " + std::strerror(errno));
  const bool dir_nou = mkdir(t.dir_guardats.c_str(), 0755) == 0;
  if (!dir_nou && errno != EEXIST) {
    marxa.Falla("cannot make " + t.dir_guardats + ": " + std::strerror(errno));
  }

  std::atomic<size_t> seguent{0};
  const int fils =
      t.fils > 0 ? t.fils : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> treballadors;
  treballadors.reserve(static_cast<size_t>(fils));
  for (int f = 0; f < fils; ++f) {
    treballadors.emplace_back([&] {
      for (size_t k;
           !interrupcio && !marxa.decidit && !marxa.aturat && (k = seguent++) < unitats.size();) {
        t_config c = config;
        c.llavor = unitats[k].llavor;
        if (unitats[k].invertit) {
          std::swap(c.robots[0], c.robots[1]);
          if (c.noms.size() == 2) std::swap(c.noms[0], c.noms[1]);
        }
        const std::string base = Base(t, unitats[k]);
        c.base_err = base;
        marxa.Acaba(c, JugaSerie(c), unitats[k].invertit, base);
      }
    });
  }
  for (auto& th : treballadors) th.join();
  if (marxa.fd >= 0 && close(marxa.fd) != 0) {
    marxa.Falla("cannot write " + t.resultats + ": " + std::strerror(errno));
  }
  if (dir_nou) rmdir(t.dir_guardats.c_str());  // fails, as it should, if anything was kept
  marxa.progres.Mostra(config.robots.size() == 2 ? EstatCurt(marxa.p, t.sprt) : "", true);
  if (error) *error = marxa.error;
  return marxa.registres;
}

namespace {

// A results line is read only after its nesting is known to be shallow: a record is three
// levels deep, and a line of thousands of brackets must not exhaust the stack.
bool PocProfund(const std::string& linia, int maxim) {
  int nivell = 0;
  bool cadena = false, escapat = false;
  for (char c : linia) {
    if (cadena) {
      if (escapat) {
        escapat = false;
      } else if (c == '\\') {
        escapat = true;
      } else if (c == '"') {
        cadena = false;
      }
    } else if (c == '"') {
      cadena = true;
    } else if (c == '[' || c == '{') {
      if (++nivell > maxim) return false;
    } else if (c == ']' || c == '}') {
      --nivell;
    }
  }
  return true;
}

bool Natural(const json& v) {
  return v.is_number_unsigned() || (v.is_number_integer() && v.get<long long>() >= 0);
}

bool Finit(const json& v) {
  return v.is_number() && std::isfinite(v.get<double>());
}

// What is wrong with one robot of a record, or empty.
std::string MalRobot(const json& f) {
  if (!f.is_object()) return "a robot that is not an object";
  for (const char* camp : {"name", "program", "status", "reason"}) {
    if (!f.contains(camp) || !f[camp].is_string())
      return std::string("robot without a text '") + camp + "'";
  }
  for (const char* camp : {"x", "y", "heading", "energy", "cpu"}) {
    if (!f.contains(camp) || !Finit(f[camp]))
      return std::string("robot without a number '") + camp + "'";
  }
  for (const char* camp : {"shots", "hits", "cookies", "mines"}) {
    if (!f.contains(camp) || !Natural(f[camp]) || f[camp].get<unsigned long long>() > INT_MAX) {
      return std::string("robot without a count '") + camp + "'";
    }
  }
  if (std::abs(f["x"].get<double>()) > 1e6 || std::abs(f["y"].get<double>()) > 1e6 ||
      std::abs(f["energy"].get<double>()) > 1e9 || f["cpu"].get<double>() < 0) {
    return "robot with a place, energy or cpu out of range";
  }
  const std::string paraula = f["status"];
  t_estat_robot estat;
  if (!LlegeixEstat(paraula, estat)) return "unknown status '" + paraula + "'";
  if (!f.contains("points") || !Finit(f["points"]) || f["points"].get<double>() < 0 ||
      f["points"].get<double>() > 1) {
    return "points not between 0 and 1";
  }
  if (f.contains("stderr") && !f["stderr"].is_null() && !f["stderr"].is_string())
    return "a stderr that is not a path";
  return "";
}

// What is wrong with a record, or empty: every field the table and a tally read, with its type
// and range, so that nothing read later can throw or go out of bounds.
std::string MalRegistre(const json& r) {
  if (!r.is_object()) return "not a game's record";
  if (!r.contains("version"))
    return "a record of an older format (no version); this arena reads version " +
           std::to_string(VERSIO_REGISTRE);
  if (r["version"] != VERSIO_REGISTRE) {
    return "a record of format version " + r["version"].dump() + "; this arena reads version " +
           std::to_string(VERSIO_REGISTRE);
  }
  if (!r.contains("seed") || !Natural(r["seed"])) return "no seed";
  if (!r.contains("game") || !Natural(r["game"]) || r["game"].get<unsigned long long>() < 1 ||
      r["game"].get<unsigned long long>() > INT_MAX) {
    return "no game number";
  }
  if (!r.contains("swapped") || !r["swapped"].is_boolean()) return "no 'swapped'";
  if (!r.contains("duration") || !Finit(r["duration"])) return "no duration";
  if (!r.contains("tournament") || !r["tournament"].is_object()) return "no 'tournament'";
  const json& t = r["tournament"];
  const auto Enter = [&](const char* camp) {
    return t.contains(camp) && Natural(t[camp]) && t[camp].get<unsigned long long>() >= 1 &&
           t[camp].get<unsigned long long>() <= 1000000;
  };
  if (!Enter("games") || !Enter("first_game") || !t.contains("paired") ||
      !t["paired"].is_boolean() || !t.contains("duration") || t["duration"] != r["duration"]) {
    return "a 'tournament' without its games, first game, pairing or duration";
  }
  const unsigned long long joc = r["game"], primer = t["first_game"];
  if (joc < primer || joc >= primer + t["games"].get<unsigned long long>()) {
    return "game " + std::to_string(joc) + " is not one of its tournament's";
  }
  if (r["swapped"].get<bool>() && !t["paired"].get<bool>())
    return "swapped, in an unpaired tournament";
  if (!r.contains("files") || !r["files"].is_array()) return "no 'files'";
  for (const auto& f : r["files"]) {
    if (!f.is_string()) return "a file that is not a path";
  }
  if (!r.contains("robots") || !r["robots"].is_array() || r["robots"].empty() ||
      r["robots"].size() > 8) {
    return "not one to eight robots";
  }
  if (r["swapped"].get<bool>() && r["robots"].size() != 2) return "swapped, but not two robots";
  const json& programes = t.value("programs", json());
  if (!programes.is_array() || programes.size() != r["robots"].size())
    return "its robots are not its tournament's";
  for (const auto& f : r["robots"]) {
    std::string mal = MalRobot(f);
    if (!mal.empty()) return mal;
  }
  return "";
}

struct t_lloc_registre {
  std::string fitxer;
  int linia;
};

std::string On(const t_lloc_registre& l) {
  return l.fitxer + ":" + std::to_string(l.linia);
}

}  // namespace

std::string Diferencia(const json& empremta, const json& r) {
  const json& altra = r.at("tournament");
  for (const auto& [clau, valor] : empremta.items()) {
    if (!altra.contains(clau) || altra[clau] != valor) {
      const auto Text = [](const json& v) {
        return v.dump(-1, ' ', false, json::error_handler_t::replace);
      };
      return "another tournament (" + clau + " " + Text(valor) + " against " +
             (altra.contains(clau) ? Text(altra[clau]) : std::string("none")) + ")";
    }
  }
  if (altra.size() != empremta.size()) return "another tournament (other settings)";
  return "";
}

bool LlegeixResultats(const std::vector<std::string>& fitxers, std::vector<json>& registres,
                      std::string& error, bool tolera_tall) {
  std::map<std::tuple<uint64_t, int, bool>, t_lloc_registre> vistos;
  json empremta;
  t_lloc_registre primer;
  std::map<std::pair<dev_t, ino_t>, std::string> llegits;
  for (const auto& cami : fitxers) {
    struct stat st;
    if (stat(cami.c_str(), &st) == 0) {
      // A FIFO or a device would block or never end: only files are results.
      if (!S_ISREG(st.st_mode)) {
        error = cami + ": not a regular file";
        return false;
      }
      const auto [it, nou] = llegits.try_emplace({st.st_dev, st.st_ino}, cami);
      if (!nou) {
        error = cami + ": the same file as " + it->second + ": its games would count twice";
        return false;
      }
    }
    std::ifstream f(cami, std::ios::binary);
    if (!f) {
      error = cami + ": cannot be read: " + std::strerror(errno);
      return false;
    }
    int n = 0;
    for (std::string linia; std::getline(f, linia);) {
      ++n;
      if (linia.empty()) continue;
      const t_lloc_registre aqui{cami, n};
      if (linia.size() > (size_t{1} << 20)) {
        error = On(aqui) + ": a line longer than 1 MiB: not a game's record";
        return false;
      }
      json r = PocProfund(linia, 8) ? json::parse(linia, nullptr, false) : json();
      // The last line, cut short by a tournament killed while it wrote, is what --resume mends.
      if (tolera_tall && f.eof() && r.is_discarded()) break;
      std::string mal = r.is_discarded() ? "not a line of JSON" : MalRegistre(r);
      if (mal.empty() && !empremta.is_null()) {
        mal = Diferencia(empremta, r);
        if (!mal.empty()) mal += " than " + On(primer);
      }
      if (!mal.empty()) {
        error = On(aqui) + ": " + mal;
        return false;
      }
      if (empremta.is_null()) empremta = r["tournament"], primer = aqui;
      const auto [it, nou] = vistos.try_emplace(Clau(r), aqui);
      if (!nou) {
        error = On(it->second) + " and " + On(aqui) + ": the same game (seed " +
                std::to_string(std::get<0>(it->first)) + ", game " +
                std::to_string(std::get<1>(it->first)) +
                (std::get<2>(it->first) ? ", swapped" : "") + ") recorded twice";
        return false;
      }
      registres.push_back(std::move(r));
    }
    if (f.bad()) {
      error = cami + ": cannot be read: " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool ReparaFinal(const std::string& cami, std::string& error) {
  std::ifstream f(cami, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(f)), {});
  if (text.empty() || text.back() == '\n') return true;
  const size_t inici = text.rfind('\n') + 1;  // 0 when there is only the one line
  const std::string darrera = text.substr(inici);
  const bool sencera =
      PocProfund(darrera, 8) && !json::parse(darrera, nullptr, false).is_discarded();
  const int fd = open(cami.c_str(), O_WRONLY | O_CLOEXEC);
  bool be = fd >= 0;
  if (be && sencera) be = lseek(fd, 0, SEEK_END) >= 0 && EscriuTot(fd, "\n");
  if (be && !sencera) be = ftruncate(fd, static_cast<off_t>(inici)) == 0;
  if (fd >= 0 && close(fd) != 0) be = false;
  if (!be) error = "cannot repair " + cami + ": " + std::strerror(errno);
  return be;
}
