// The match loop: start the robots, send the game options, then every tick tell each robot what
// happened, wait until all have answered, apply their commands and advance the physics.
#include "arena/partida.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <locale>
#include <sstream>
#include <thread>

#include "arena/proces.h"

namespace {

struct t_participant {
  std::string nom;
  bool programa = false;  // false for the sitting target
  t_fill fill;
  bool senyals = false;       // robot option 0: wake it with SIGUSR1
  bool avis_gir = false;      // robot option 1: tell it when a turn completes
  std::string caigut;         // why it was dropped, if it was
  std::string err;            // the file its standard error goes to
  std::string lot;            // messages waiting to be sent this tick
  double energia_dita = NAN;  // the energy it was last told
};

std::string Nombre(double x) {
  std::ostringstream o;
  o.imbue(std::locale::classic());
  o << x;
  return o.str();
}

class Partida {
 public:
  explicit Partida(const t_config& c) : config_(c), atzar_{c.llavor} {}

  t_resultat Juga();

 private:
  void Anota(int i, char sentit, const std::string& linia) {
    char temps[32];
    std::snprintf(temps, sizeof temps, "%.2f", tick_ * config_.dt);
    resultat_.transcripcio.push_back(std::string(temps) + " " + gent_[i].nom + " " + sentit + " " +
                                     linia);
  }
  void Diu(int i, const std::string& missatge) {
    if (!gent_[i].programa || !gent_[i].caigut.empty()) return;
    Anota(i, '>', missatge);
    gent_[i].lot += missatge + "\n";
  }
  void Situa();
  void Engega();
  void Intercanvia(bool lockstep = true);
  bool Ordre(int i, const std::string& linia);
  void Deixa(int i, const std::string& motiu);
  void Tick();
  int Vius() const;
  void Acaba();
  void Grava(const std::vector<t_event>& events);

  const t_config& config_;
  t_atzar atzar_;
  t_mon mon_;
  std::vector<t_participant> gent_;
  t_resultat resultat_;
  int tick_ = 0;
  std::chrono::steady_clock::time_point inici_;
};

void Partida::Situa() {
  mon_.amplada = config_.amplada;
  mon_.alcada = config_.alcada;
  OpcionsPerDefecte(mon_.opcions);
  mon_.opcions[OPT_DURADA] = config_.durada;
  auto Lliure = [&](double x, double y, double marge) {
    for (const auto& r : mon_.robots) {
      if (std::hypot(r.x - x, r.y - y) < marge) return false;
    }
    for (const auto& o : mon_.objectes) {
      if (std::hypot(o.x - x, o.y - y) < marge) return false;
    }
    return true;
  };
  auto AlAtzar = [&](double& x, double& y, double marge) {
    do {
      x = atzar_.Uniforme(2, mon_.amplada - 2);
      y = atzar_.Uniforme(2, mon_.alcada - 2);
    } while (!Lliure(x, y, marge));
  };
  for (size_t i = 0; i < config_.robots.size(); ++i) {
    t_cos_robot r;
    if (i < config_.llocs.size()) {
      r.x = config_.llocs[i].x, r.y = config_.llocs[i].y, r.rumb = config_.llocs[i].rumb;
    } else {
      AlAtzar(r.x, r.y, 4);
      r.rumb = atzar_.Uniforme(0, 6.283185307179586);
    }
    r.radar_abans = r.rumb;
    r.energia = mon_.opcions[OPT_ENERGIA_INICIAL];
    mon_.robots.push_back(r);
  }
  mon_.objectes = config_.objectes;
  for (int k = 0; k < config_.galetes + config_.mines; ++k) {
    t_objecte o{0, 0, k < config_.galetes ? OBJ_GALETA : OBJ_MINA};
    AlAtzar(o.x, o.y, 2);
    mon_.objectes.push_back(o);
  }
  mon_.trets = config_.trets;
}

void Partida::Engega() {
  for (size_t i = 0; i < config_.robots.size(); ++i) {
    t_participant p;
    const std::string& cami = config_.robots[i];
    p.programa = cami != kDiana;
    p.nom = NomRobot(cami) + "#" + std::to_string(i + 1);
    gent_.push_back(std::move(p));
    if (!gent_[i].programa) continue;
    t_engegada e;
    e.ordre = OrdreRobot(cami);
    e.max_fitxer_mib = config_.max_fitxer_mib;
    if (!config_.dir_err.empty()) {
      e.err = gent_[i].err = config_.dir_err + "/match-" + std::to_string(config_.llavor) + "." +
                             gent_[i].nom + ".err";
    }
    if (!::Engega(gent_[i].fill, e)) Deixa(static_cast<int>(i), gent_[i].fill.error);
  }
}

// Why a robot that did not finish its tick is dropped.
std::string Motiu(const t_fill& fill, size_t bytes_abans, const t_config& config) {
  if (fill.bytes_rebuts - bytes_abans > config.max_bytes_tick) return "floods its output";
  if (!fill.passat.empty()) return fill.passat;
  if (fill.ocupat == "it has not read all its input") return "does not read its input";
  return "no answer in time (" + fill.ocupat + ")";
}

void Partida::Deixa(int i, const std::string& motiu) {
  t_participant& p = gent_[i];
  if (!p.caigut.empty()) return;
  p.caigut = motiu;
  mon_.robots[i].viu = false;
  Anota(i, '!', "dropped: " + motiu);
  if (p.fill.pid > 0) Atura(p.fill);
}

// Sends every robot its batch, waits until each has handled it (in lock-step) or until the
// tick's wall-clock time is up (in real time), then applies what they wrote, robot by robot, so
// the outcome does not depend on which answered first.
void Partida::Intercanvia(bool lockstep) {
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    if (!p.programa || !p.caigut.empty() || p.lot.empty()) continue;
    if (!Escriu(p.fill, p.lot, config_.espera_ms)) {
      Deixa(static_cast<int>(i), "does not read its input");
    } else if (p.senyals) {
      Senyala(p.fill);
    }
    p.lot.clear();
  }
  if (!lockstep) {
    const auto limit = inici_ + std::chrono::duration<double>((tick_ + 1) * config_.dt);
    while (std::chrono::steady_clock::now() < limit && !interrupcio) {
      for (auto& p : gent_) {
        if (p.programa && p.caigut.empty()) Drena(p.fill);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    const int ii = static_cast<int>(i);
    if (!p.programa || !p.caigut.empty()) continue;
    const size_t abans = p.fill.bytes_rebuts;
    if (lockstep &&
        !EsperaRepos(p.fill, config_.espera_ms, config_.max_bytes_tick, &config_.limits)) {
      if (interrupcio) return;  // the arena is stopping: no robot is to blame
      Deixa(ii, Motiu(p.fill, abans, config_));
      continue;
    }
    if (!lockstep) Drena(p.fill);
    if (p.fill.bytes_rebuts - abans > config_.max_bytes_tick ||
        p.fill.rebut.size() > config_.max_bytes_tick) {
      Deixa(ii, "floods its output");
      continue;
    }
    int errors = 0;
    for (; !p.fill.linies.empty() && errors <= config_.max_errors_tick; p.fill.linies.pop_front()) {
      errors += !Ordre(ii, p.fill.linies.front());
    }
    if (errors > config_.max_errors_tick) {
      Deixa(ii, "writes garbage");
      continue;
    }
    if (EsperaFi(p.fill, 0)) {  // reaped: it ended by itself
      Deixa(ii, ComAcaba(p.fill.estat));
      continue;
    }
    // A robot that grows between ticks is measured twice a second of game time.
    if (tick_ % 10 == 0) {
      const std::string passat = PassaLimits(p.fill, config_.limits);
      if (!passat.empty()) Deixa(ii, passat);
    }
  }
}

// Applies one command line; false for a line that is no command at all.
bool Partida::Ordre(int i, const std::string& linia) {
  // A line too long to be a command is not copied into the transcript whole.
  if (linia.size() > 4096) {
    Anota(i, '<', linia.substr(0, 80) + "... (" + std::to_string(linia.size()) + " bytes)");
    Diu(i, "Warning 1 line too long");
    return false;
  }
  Anota(i, '<', linia);
  std::istringstream in(linia);
  std::string paraula;
  in >> paraula;
  t_participant& p = gent_[i];
  if (paraula == "Print" || paraula == "Debug" || paraula == "DebugLine" ||
      paraula == "DebugCircle" || paraula == "Name" || paraula == "Colour") {
    return true;
  }
  if (paraula == "RobotOption") {
    int opcio = -1, valor = 0;
    in >> opcio >> valor;
    if (in.fail() || opcio < 0 || opcio > 3) {
      Diu(i, "Warning 3 " + linia);
      return false;
    }
    if (opcio == 0) p.senyals = valor != 0;
    if (opcio == 1) p.avis_gir = valor != 0;
    return true;  // options 2 and 3 are accepted; input is always a non-blocking pipe
  }
  if (Ordena(mon_, i, linia)) return true;
  Diu(i, "Warning 1 " + linia);
  return false;
}

int Partida::Vius() const {
  int n = 0;
  for (const auto& r : mon_.robots) n += r.viu;
  return n;
}

void Partida::Tick() {
  // What each robot sees now.
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    if (!r.viu) continue;
    const int ii = static_cast<int>(i);
    Diu(ii,
        "Info " + Nombre(tick_ * config_.dt) + " " + Nombre(r.vel) + " " + Nombre(Normal(r.canyo)));
    const t_impacte vist = Radar(mon_, ii);
    Diu(ii, "Radar " + Nombre(vist.distancia) + " " + std::to_string(vist.tipus) + " " +
                Nombre(vist.angle));
    if (vist.tipus == OBJ_ROBOT) {
      Diu(ii, "RobotInfo " + Nombre(mon_.robots[vist.index].energia) + " 0");
    }
  }
  Intercanvia(!config_.temps_real);

  // The world moves on; what happened is told at the next tick.
  const int abans = Vius();
  std::vector<t_event> events;
  Avanca(mon_, config_.dt, events);
  mon_.temps = (tick_ + 1) * config_.dt;
  ++tick_;
  Grava(events);
  for (const auto& e : events) {
    if (e.girs_acabats) {
      if (gent_[e.robot].avis_gir)
        Diu(e.robot, "RotationReached " + std::to_string(e.girs_acabats));
    } else {
      Diu(e.robot, e.missatge);
    }
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    const double e = mon_.robots[i].energia;
    if (mon_.robots[i].viu && e != p.energia_dita) {
      p.energia_dita = e;
      Diu(static_cast<int>(i), "Energy " + Nombre(e));
    }
  }
  if (Vius() != abans) {
    for (size_t i = 0; i < gent_.size(); ++i) {
      if (mon_.robots[i].viu) Diu(static_cast<int>(i), "RobotsLeft " + std::to_string(Vius()));
    }
  }
}

void Partida::Grava(const std::vector<t_event>& events) {
  const double t = tick_ * config_.dt;
  resultat_.quadres.push_back({t, mon_.robots, mon_.trets});
  for (auto& r : resultat_.quadres.back().robots) r.gir[0] = r.gir[1] = r.gir[2] = {};
  if (resultat_.objectes.empty() ||
      resultat_.objectes.back().second.size() != mon_.objectes.size()) {
    resultat_.objectes.emplace_back(t, mon_.objectes);
  }
  for (const auto& e : events) {
    const t_cos_robot& r = mon_.robots[e.robot];
    int tipus = -2;
    if (e.missatge == "Dead") tipus = -1;
    for (int k : {OBJ_TRET, OBJ_GALETA, OBJ_MINA}) {
      if (e.missatge.rfind("Collision " + std::to_string(k) + " ", 0) == 0) tipus = k;
    }
    if (tipus != -2) resultat_.fets.push_back({t, tipus, e.robot, r.x, r.y});
  }
}

void Partida::Acaba() {
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    Diu(static_cast<int>(i), "GameFinishes");
    Diu(static_cast<int>(i), "ExitRobot");
    if (!p.programa || !p.caigut.empty()) continue;
    Escriu(p.fill, p.lot, config_.espera_ms);
    p.lot.clear();
    if (p.senyals) Senyala(p.fill);
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    if (!p.programa || !p.caigut.empty()) continue;
    // A robot gets two seconds to end after ExitRobot; then it is killed. Either way it is reaped.
    const bool acaba = EsperaFi(p.fill, 2000);
    for (; !p.fill.linies.empty(); p.fill.linies.pop_front()) {
      Anota(static_cast<int>(i), '<', p.fill.linies.front());
    }
    if (!acaba) Anota(static_cast<int>(i), '!', "killed: still running after ExitRobot");
    Atura(p.fill);
  }
}

t_resultat Partida::Juga() {
  Situa();
  resultat_.quadres.push_back({0, mon_.robots, mon_.trets});
  resultat_.objectes.emplace_back(0, mon_.objectes);
  Engega();
  Intercanvia();  // the start-up lines: robot options and the like
  for (size_t i = 0; i < gent_.size(); ++i) {
    const int ii = static_cast<int>(i);
    Diu(ii, "Initialize 1");
    for (int o = 0; o < NUM_OPCIONS; ++o) {
      Diu(ii, "GameOption " + std::to_string(o) + " " + Nombre(mon_.opcions[o]));
    }
    Diu(ii, "GameStarts");
  }
  Intercanvia();

  const int ticks = static_cast<int>(std::lround(config_.durada / config_.dt));
  inici_ = std::chrono::steady_clock::now();
  const bool duel = gent_.size() > 1;
  while (tick_ < ticks && !(duel && Vius() <= 1) && !interrupcio) Tick();
  resultat_.interromput = interrupcio;
  resultat_.llavor = config_.llavor;
  // The last events (a death, a hit) still reach the robots before the game ends.
  Intercanvia();
  resultat_.temps = tick_ * config_.dt;
  resultat_.ticks = tick_;
  Acaba();

  double millor = -INFINITY;
  int guanya = -1;
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    t_fitxa f{gent_[i].nom,
              r.trets,
              r.encerts,
              r.galetes,
              r.mines,
              r.energia,
              !gent_[i].caigut.empty() ? "dropped: " + gent_[i].caigut
              : r.viu                  ? "alive"
                                       : "dead",
              ""};
    // What a robot wrote to its standard error is kept only if there is something.
    struct stat st;
    if (!gent_[i].err.empty() && stat(gent_[i].err.c_str(), &st) == 0) {
      if (st.st_size > 0) {
        f.err = gent_[i].err;
      } else {
        unlink(gent_[i].err.c_str());
      }
    }
    resultat_.fitxes.push_back(f);
    if (r.viu && r.energia > millor)
      millor = r.energia, guanya = static_cast<int>(i);
    else if (r.viu && r.energia == millor)
      guanya = -2;  // a tie
  }
  if (guanya >= 0) resultat_.guanyador = gent_[guanya].nom;
  return resultat_;
}

}  // namespace

t_resultat JugaPartida(const t_config& config) {
  return Partida(config).Juga();
}

std::string NomRobot(const std::string& robot) {
  const std::vector<std::string> ordre = OrdreRobot(robot);
  std::string nom = ordre.empty() ? robot : ordre[0];
  // A program named by its path names the robot; one found in PATH is an interpreter.
  for (size_t i = 1; i < ordre.size() && nom.find('/') == std::string::npos; ++i) {
    struct stat st;
    if (stat(ordre[i].c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      nom = ordre[i];
      break;
    }
  }
  return nom.substr(nom.find_last_of('/') + 1);
}

std::string Resum(const t_config& config, const t_resultat& r) {
  std::ostringstream o;
  o.imbue(std::locale::classic());
  char linia[256];
  if (r.interromput) {
    std::snprintf(linia, sizeof linia, "Match: seed %llu, interrupted at %.2f s (%d ticks) of %g s\n",
                  static_cast<unsigned long long>(config.llavor), r.temps, r.ticks, config.durada);
  } else {
    std::snprintf(linia, sizeof linia, "Match: seed %llu, %.2f s of game time (%d ticks) of %g s\n",
                  static_cast<unsigned long long>(config.llavor), r.temps, r.ticks, config.durada);
  }
  o << linia;
  std::snprintf(linia, sizeof linia, "%-14s %6s %5s %8s %6s %8s  %s\n", "robot", "shots", "hits",
                "cookies", "mines", "energy", "status");
  o << linia;
  for (const auto& f : r.fitxes) {
    std::snprintf(linia, sizeof linia, "%-14s %6d %5d %8d %6d %8.1f  %s\n", f.nom.c_str(), f.trets,
                  f.encerts, f.galetes, f.mines, f.energia, f.estat.c_str());
    o << linia;
  }
  o << "Winner: " << (r.guanyador.empty() ? "none (draw)" : r.guanyador) << "\n";
  for (const auto& f : r.fitxes) {
    if (!f.err.empty()) o << f.nom << " wrote to its standard error: " << f.err << "\n";
  }
  return o.str();
}

std::vector<t_resultat> Torneig(const t_config& config, int partides) {
  std::vector<t_resultat> resultats(static_cast<size_t>(partides));
  const int fils = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> treballadors;
  for (int f = 0; f < fils; ++f) {
    treballadors.emplace_back([&, f] {
      for (int k = f; k < partides && !interrupcio; k += fils) {
        t_config c = config;
        c.llavor = config.llavor + static_cast<uint64_t>(k);
        resultats[static_cast<size_t>(k)] = JugaPartida(c);
      }
    });
  }
  for (auto& t : treballadors) t.join();
  // A match the arena was stopped in, or never got to, is not a result.
  std::vector<t_resultat> acabats;
  for (auto& r : resultats) {
    if (!r.fitxes.empty() && !r.interromput) acabats.push_back(std::move(r));
  }
  return acabats;
}

std::string TaulaTorneig(const t_config& config, const std::vector<t_resultat>& resultats) {
  struct t_suma {
    std::string nom;
    int guanyades = 0, empats = 0, caigudes = 0, trets = 0, encerts = 0;
    double energia = 0;
  };
  std::vector<t_suma> sumes(config.robots.size());
  for (const auto& r : resultats) {
    for (size_t i = 0; i < r.fitxes.size() && i < sumes.size(); ++i) {
      const t_fitxa& f = r.fitxes[i];
      t_suma& s = sumes[i];
      s.nom = f.nom;
      s.guanyades += r.guanyador == f.nom;
      s.empats += r.guanyador.empty() && f.estat == "alive";
      s.caigudes += f.estat.rfind("dropped", 0) == 0;
      s.trets += f.trets;
      s.encerts += f.encerts;
      s.energia += std::max(0.0, f.energia);
    }
  }
  std::ostringstream o;
  char linia[256];
  if (resultats.empty()) {
    o << "Tournament: no match finished\n";
    return o.str();
  }
  std::snprintf(linia, sizeof linia, "Tournament: %zu matches, seeds %llu to %llu, %.0f s each\n",
                resultats.size(), static_cast<unsigned long long>(resultats.front().llavor),
                static_cast<unsigned long long>(resultats.back().llavor), config.durada);
  o << linia;
  std::snprintf(linia, sizeof linia, "%-14s %5s %6s %8s %12s %6s %5s\n", "robot", "wins", "draws",
                "dropped", "mean energy", "shots", "hits");
  o << linia;
  for (const auto& s : sumes) {
    std::snprintf(linia, sizeof linia, "%-14s %5d %6d %8d %12.1f %6d %5d\n", s.nom.c_str(),
                  s.guanyades, s.empats, s.caigudes,
                  resultats.empty() ? 0.0 : s.energia / static_cast<double>(resultats.size()),
                  s.trets, s.encerts);
    o << linia;
  }
  return o.str();
}
