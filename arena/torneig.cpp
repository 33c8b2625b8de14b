// Tournaments: seeds played side by side on several threads, each game's record written the
// moment it ends, kept games saved, the test fed in seed order, and progress shown as it goes.
#include "arena/torneig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

#include "arena/registre.h"
#include "arena/repeticio.h"
#include "arena/sortida.h"

namespace arena {

namespace {

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

// The running tournament, shared by its threads: the records and the results file, the test
// fed in seed order, the progress; all but the flags under `m`.
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
  t_parells comptador;  // the test, fed a seed at a time
  uint64_t proxima;     // the next seed the test waits for
  t_progres progres;

  t_marxa(const t_config& c, const t_torneig& tt, std::ostream& o)
      : config(c),
        t(tt),
        empremta(Empremta(c, tt)),
        parells(tt.parells && c.robots.size() == 2),
        comptador{parells, tt.sprt},
        proxima(tt.primera),
        progres{o, tt.progres_terminal, 0, tt.sprt.has_value()} {}

  // Whether another unit is to be started.
  bool Segueix() const { return !interrupcio && !decidit && !aturat; }

  void Falla(const std::string& que) {
    if (error.empty()) error = que;
    aturat = true;
  }

  // Each seed goes to the test once, as soon as it and every seed before it are complete, so
  // that the decision does not depend on which match happened to end first.
  void Alimenta() {
    if (config.robots.size() != 2) return;
    const size_t complet = (parells ? 2 : 1) * static_cast<size_t>(std::max(1, config.jocs));
    while (!comptador.decidit && comptador.EnEspera(proxima) == complet) {
      comptador.Compta(proxima);
      if (proxima == t.darrera) break;
      ++proxima;
    }
    if (comptador.decidit) decidit = true;
  }

  void Compta(const json& r) {
    const auto clau = Clau(r);
    fets.insert(clau);
    comptador.Afegeix(std::get<0>(clau), std::get<1>(clau),
                      config.robots.size() == 2 ? PuntsPrimer(r) : 0, 0);
  }

  void Mostra(bool final) {
    if (t.en_progres) t.en_progres(progres.fets, progres.total, comptador.p);
    progres.Mostra(config.robots.size() == 2 ? EstatCurt(comptador.p, t.sprt) : "", final);
  }
};

// Where a unit's kept games and standard error files go, without their extensions.
std::string Base(const t_torneig& t, const t_unitat& u) {
  return t.dir_guardats + "/match-" + std::to_string(u.llavor) + (u.invertit ? ".swapped" : "");
}

// Whether --keep asks for this game: one with a drop, one the first robot lost, or any.
bool CalGuardar(const t_torneig& t, const t_resultat& r, bool invertit) {
  const size_t a = invertit ? 1 : 0;
  const bool caiguda = std::any_of(r.fitxes.begin(), r.fitxes.end(), [](const t_fitxa& f) {
    return f.desenllac.estat == t_estat_robot::CAIGUT;
  });
  const bool derrota =
      r.fitxes.size() >= 2 && r.fitxes[a].punts == 0 &&
      std::any_of(r.fitxes.begin(), r.fitxes.end(), [](const t_fitxa& f) { return f.punts > 0; });
  return t.guarda_tots || (t.guarda_caigudes && caiguda) || (t.guarda_derrotes && derrota);
}

// The transcript, replay and picture of a game worth a second look: the files written, up to
// the first that could not be, which `error` then names.
std::vector<std::string> Guarda(const t_torneig& t, const t_config& c, const t_resultat& r,
                                bool invertit, const std::string& base, std::string& error) {
  if (!CalGuardar(t, r, invertit)) return {};
  const std::string nom = base + (c.jocs > 1 || r.joc != 1 ? ".g" + std::to_string(r.joc) : "");
  std::string text;
  for (const auto& linia : r.transcripcio) text += linia + "\n";
  const std::pair<std::string, std::string> fitxers[] = {{nom + ".txt", text},
                                                         {nom + ".html", PaginaRepeticio(c, r)},
                                                         {nom + ".svg", ImatgeSvg(c, r)}};
  std::vector<std::string> fets;
  for (const auto& [cami, contingut] : fitxers) {
    const std::string per_que = Desa(cami, contingut);
    if (!per_que.empty()) {
      error = "cannot write " + per_que;
      break;
    }
    fets.push_back(cami);
  }
  return fets;
}

// One game's kept files and record, written under the lock; false if the record could not be.
bool Registra(t_marxa& marxa, const t_config& c, const t_resultat& r, bool invertit,
              const std::string& base) {
  std::string error;
  std::vector<std::string> fitxers = Guarda(marxa.t, c, r, invertit, base, error);
  if (!error.empty()) marxa.Falla(error);
  for (const auto& f : r.fitxes) {
    if (!f.err.empty() && std::find(fitxers.begin(), fitxers.end(), f.err) == fitxers.end()) {
      fitxers.push_back(f.err);
    }
  }
  json registre = Registre(c, marxa.t, marxa.empremta, r, invertit, fitxers);
  error = EscriuRegistre(marxa.fd, marxa.t.resultats, registre);
  if (!error.empty()) {
    marxa.Falla(error);
    return false;
  }
  marxa.Compta(registre);
  if (marxa.t.en_registre) marxa.t.en_registre(registre);
  marxa.registres.push_back(std::move(registre));
  ++marxa.progres.fets;
  return true;
}

// A unit's games, as they ended: recorded, counted, shown.
void Acaba(t_marxa& marxa, const t_config& c, const std::vector<t_resultat>& jocs, bool invertit,
           const std::string& base) {
  std::lock_guard<std::mutex> l(marxa.m);
  // A game the arena itself could not play as asked (a robot it could not start, a field it
  // could not lay out) is no robot's doing: it is not recorded, and the tournament stops.
  for (const auto& r : jocs) {
    if (!r.error_arena.empty()) {
      marxa.Falla(r.error_arena);
      return;
    }
  }
  for (const auto& r : jocs) {
    if (r.interromput || r.fitxes.empty()) continue;
    if (marxa.fets.count({r.llavor, r.joc, invertit})) continue;  // recorded before a --resume
    if (!marxa.error.empty() || !Registra(marxa, c, r, invertit, base)) break;
  }
  marxa.Alimenta();
  marxa.Mostra(false);
}

// Plays one unit: its seed, from its place order, every game of its series.
void Juga(t_marxa& marxa, const t_unitat& u) {
  t_config c = marxa.config;
  c.llavor = u.llavor;
  if (u.invertit) {
    std::swap(c.robots[0], c.robots[1]);
    if (c.noms.size() == 2) std::swap(c.noms[0], c.noms[1]);
  }
  const std::string base = Base(marxa.t, u);
  c.base_err = base;
  Acaba(marxa, c, JugaSerie(c), u.invertit, base);
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

// The threads take units in seed order, one at a time, until there are none left, the test
// decides, something could not be written or the arena is interrupted.
void Reparteix(t_marxa& marxa, const std::vector<t_unitat>& unitats) {
  std::atomic<size_t> seguent{0};
  const int fils = marxa.t.fils > 0
                       ? marxa.t.fils
                       : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> treballadors;
  treballadors.reserve(static_cast<size_t>(fils));
  for (int f = 0; f < fils; ++f) {
    treballadors.emplace_back([&] {
      for (size_t k; marxa.Segueix() && (k = seguent++) < unitats.size();) Juga(marxa, unitats[k]);
    });
  }
  for (auto& th : treballadors) th.join();
}

}  // namespace

std::vector<json> JugaTorneig(const t_config& config, const t_torneig& t, std::ostream& progres,
                              std::string* error) {
  t_marxa marxa(config, t, progres);
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
  if (t.en_progres) t.en_progres(0, marxa.progres.total, marxa.comptador.p);
  Reparteix(marxa, unitats);
  if (marxa.fd >= 0 && close(marxa.fd) != 0) {
    marxa.Falla("cannot write " + t.resultats + ": " + std::strerror(errno));
  }
  if (dir_nou) rmdir(t.dir_guardats.c_str());  // fails, as it should, if anything was kept
  marxa.Mostra(true);
  if (error) *error = marxa.error;
  return marxa.registres;
}

}  // namespace arena
