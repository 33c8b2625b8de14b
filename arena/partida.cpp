// The match loop: start the robots once; then for each game of the series send the game
// options, and every tick tell each robot what happened, wait until all have answered, apply
// their commands and advance the physics.
#include "arena/partida.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

#include "arena/proces.h"
#include "arena/protocol.h"
#include "arena/resum.h"
#include "arena/text.h"
#include "arena/transcripcio.h"

namespace arena {

namespace {

// The field's colour in the replay and the picture: no robot may wear it.
const char* const kFons = "#ffffff";

struct t_participant {
  std::string nom;         // as the match knows it, "#N" included
  bool nom_fixat = false;  // given by the match: the robot's own Name does not change it
  std::string color;
  bool programa = false;  // false for the sitting target
  t_fill fill;
  bool senyals = false;           // robot option 0: wake it with SIGUSR1
  bool avis_gir = false;          // robot option 1: tell it when a turn completes
  bool coordenades = false;       // robot option 4: tell it where it is every tick
  std::optional<t_motiu> caigut;  // why it was dropped, if it was
  std::string err;                // the file its standard error goes to
  std::string lot;                // messages waiting to be sent this tick
  double energia_dita = NAN;      // the energy it was last told in this game
  // What it has left behind so far, against its budgets (t_config): in the transcript over the
  // match, said once when cut; in the replay over this game.
  size_t bytes_transcripcio = 0;
  bool transcripcio_tallada = false;
  t_despesa repeticio;
};

// The messages every tick brings: bounded by the ticks, they count against no budget. A robot's
// own lines always count, whatever word they start with.
bool DeCadaTick(const t_missatge_arena& m) {
  return std::holds_alternative<t_info>(m) || std::holds_alternative<t_radar>(m) ||
         std::holds_alternative<t_coordenades>(m) || std::holds_alternative<t_info_robot>(m);
}

// Two colours too close to tell apart on the field.
bool Xoquen(const std::string& a, const std::string& b) {
  double d2 = 0;
  for (int k = 0; k < 3; ++k) {
    const double x = std::stoi(a.substr(1 + 2 * k, 2), nullptr, 16);
    const double y = std::stoi(b.substr(1 + 2 * k, 2), nullptr, 16);
    d2 += (x - y) * (x - y);
  }
  return d2 < 80.0 * 80.0;
}

// Game 1 of a series is laid out by the match's seed itself; later games mix in their number.
uint64_t LlavorJoc(uint64_t llavor, int joc) {
  return joc == 1 ? llavor : llavor ^ (0x9e3779b97f4a7c15ull * static_cast<uint64_t>(joc));
}

// Bounds on drawing random places. A layout with room needs a few draws per object; these are
// far beyond that, so every layout that used to be found still is, drawn the same. The overall
// bound counts distance checks, so it holds however many objects the file places itself.
constexpr long kIntentsPerLloc = 100000;
constexpr long kComprovacionsMax = 10000000;

}  // namespace

bool Disposa(const t_config& config, int joc, t_mon& mon, std::string& error) {
  t_atzar atzar{LlavorJoc(config.llavor, joc)};
  mon = t_mon{};
  mon.amplada = config.amplada;
  mon.alcada = config.alcada;
  OpcionsDelJoc(config.opcions, config.durada, mon.opcions);
  long comprovacions = 0;
  auto Lliure = [&](double x, double y, double marge) {
    comprovacions += static_cast<long>(mon.robots.size() + mon.objectes.size()) + 1;
    for (const auto& r : mon.robots) {
      if (std::hypot(r.x - x, r.y - y) < marge) return false;
    }
    for (const auto& o : mon.objectes) {
      if (std::hypot(o.x - x, o.y - y) < marge) return false;
    }
    return true;
  };
  // After the first thing that finds no room nothing more is drawn: what is left of the robots
  // stands in the middle, what is left of the cookies and mines is left out.
  bool bo = true;
  auto AlAtzar = [&](double& x, double& y, double marge) {
    for (long intent = 0; bo && intent < kIntentsPerLloc && comprovacions < kComprovacionsMax;
         ++intent) {
      if (intent % 4096 == 4095 && interrupcio) break;
      x = atzar.Uniforme(2, mon.amplada - 2);
      y = atzar.Uniforme(2, mon.alcada - 2);
      if (Lliure(x, y, marge)) return true;
    }
    return false;
  };
  auto SenseLloc = [&](const std::string& que, int k, int de) {
    if (!bo) return;
    bo = false;
    std::ostringstream o;
    o << "cannot lay out the field";
    if (config.jocs > 1) o << " of game " << joc;
    o << ": ";
    if (interrupcio) {
      o << "interrupted";
    } else {
      o << "no room for " << que << " " << k << " of " << de << " on " << mon.amplada << " x "
        << mon.alcada;
    }
    error = o.str();
  };
  const int robots = static_cast<int>(config.robots.size());
  for (int i = 0; i < robots; ++i) {
    t_cos_robot r;
    const size_t ii = static_cast<size_t>(i);
    if (ii < config.llocs.size() && !config.llocs[ii].aleatori) {
      const t_lloc& l = config.llocs[ii];
      r.x = l.x, r.y = l.y, r.rumb = l.rumb, r.vel = l.vel;
    } else {
      r.x = mon.amplada / 2, r.y = mon.alcada / 2;
      if (!AlAtzar(r.x, r.y, 4)) SenseLloc("robot", i + 1, robots);
      r.rumb = atzar.Uniforme(0, DOS_PI);
    }
    r.radar_abans = r.rumb;
    r.energia = mon.opcions[OPT_ENERGIA_INICIAL];
    mon.robots.push_back(r);
  }
  mon.objectes = config.objectes;
  mon.trets = config.trets;
  for (int k = 0; k < config.galetes + config.mines && bo; ++k) {
    const bool galeta = k < config.galetes;
    t_objecte o{0, 0, galeta ? OBJ_GALETA : OBJ_MINA};
    if (AlAtzar(o.x, o.y, 2)) {
      mon.objectes.push_back(o);
    } else if (galeta) {
      SenseLloc("cookie", k + 1, config.galetes);
    } else {
      SenseLloc("mine", k - config.galetes + 1, config.mines);
    }
  }
  return bo;
}

bool ComprovaDisposicio(const t_config& config, std::string& error) {
  // On a roomy field no draw can fail as often as every other time, so a game's layout cannot
  // run out of draws (that would take 100000 failures in a row); only the first game is laid out
  // then, sparing a long series of large fields a layout per game.
  const double zona = (config.amplada - 4) * (config.alcada - 4);
  const double coses = static_cast<double>(config.robots.size() + config.objectes.size()) +
                       config.galetes + config.mines;
  const bool ample = coses * 3.1416 * 4 * 4 <= zona / 2;
  t_mon mon;
  for (int k = 0; k < (ample ? 1 : std::max(1, config.jocs)); ++k) {
    if (!Disposa(config, config.primer_joc + k, mon, error)) return false;
  }
  return true;
}

namespace {

class Serie {
 public:
  explicit Serie(const t_config& c)
      : config_(c), pressupost_{c.max_text_repeticio, c.max_dibuixos, c.max_linies_repeticio} {}
  ~Serie() { TancaTranscripcio(transcripcio_); }
  Serie(const Serie&) = delete;
  Serie& operator=(const Serie&) = delete;

  std::vector<t_resultat> Juga();

 private:
  t_resultat& R() { return jocs_.back(); }
  void Anota(int i, char sentit, const std::string& text,
             const t_missatge_arena* missatge = nullptr);
  void Transcriu(int i, char sentit, const std::string& linia);
  void Nota(int i, const std::string& linia, bool dibuix) {
    GravaNota(R(), pressupost_, gent_[i].repeticio, {tick_ * config_.dt, i, linia}, dibuix);
  }
  void Diu(int i, const t_missatge_arena& missatge) {
    if (!gent_[i].programa || gent_[i].caigut) return;
    linia_.clear();
    AfegeixLinia(linia_, missatge);
    Anota(i, '>', linia_, &missatge);
    gent_[i].lot.append(linia_) += '\n';
  }
  void Engega();
  void Situa(int joc);
  void Intercanvia(bool lockstep = true);
  bool Ordre(int i, const std::string& linia);
  void Aplica(int i, const t_comanda& comanda, const std::string& linia);
  void Nom(int i, const std::string& nom);
  void Color(int i, const t_colors& colors);
  void Deixa(int i, const t_motiu& motiu);
  void Tick();
  int Vius() const;
  void AnunciaVius();
  void Joc(int joc);
  void Fitxes();
  void Acaba();
  void Grava(const std::vector<t_event>& events);
  void Observa(bool fi);

  const t_config& config_;
  const t_pressupost pressupost_;  // what each robot may leave in each game's replay
  t_mon mon_;
  std::vector<t_participant> gent_;
  std::vector<t_resultat> jocs_;
  int tick_ = 0;
  int anunciats_ = 0;  // robots alive as last told with RobotsLeft
  std::chrono::steady_clock::time_point inici_;
  t_transcripcio transcripcio_;
  // Kept from one tick or line to the next so that their buffers are reused: the line a
  // message is written into, and what the physics reports of a tick.
  std::string linia_;
  std::vector<t_event> events_;
};

// Every line of the exchange passes here, made plain text first: a robot's bytes that are not
// UTF-8, and its control characters, are kept as escapes and never reach a terminal raw.
void Serie::Anota(int i, char sentit, const std::string& text, const t_missatge_arena* missatge) {
  // The arena's own messages, and most commands, are plain already: not copied.
  const bool net = Imprimible(text);
  const std::string escapat = net ? std::string() : TextNet(text);
  const std::string& linia = net ? text : escapat;
  t_participant& p = gent_[i];
  // The replay's frames hold what the arena's Info and Radar said.
  const bool al_quadre = missatge && (std::holds_alternative<t_info>(*missatge) ||
                                      std::holds_alternative<t_radar>(*missatge));
  if (!al_quadre) GravaLinia(R(), pressupost_, p.repeticio, {tick_, i, sentit, linia});
  if (sentit != '!' && !(missatge && DeCadaTick(*missatge))) {
    p.bytes_transcripcio += linia.size();
    if (p.bytes_transcripcio > config_.max_transcripcio_robot) {
      if (!p.transcripcio_tallada) {
        p.transcripcio_tallada = true;
        Transcriu(i, '!',
                  "output beyond " + Mida(config_.max_transcripcio_robot) + " not recorded");
      }
      return;
    }
  }
  Transcriu(i, sentit, linia);
}

void Serie::Transcriu(int i, char sentit, const std::string& linia) {
  EscriuLinia(transcripcio_, R(), tick_ * config_.dt, gent_[i].nom, sentit, linia);
}

void Serie::Situa(int joc) {
  // Each game's layout was checked before the series started; a field that proves too full
  // anyway (a tournament's other seeds) is played with what found room, never drawn forever,
  // and said: such a game is no fair game to record.
  std::string error;
  if (!Disposa(config_, joc, mon_, error)) R().error_arena = error;
  for (size_t i = 0; i < mon_.robots.size(); ++i) {
    // A robot dropped in an earlier game is out of the series.
    mon_.robots[i].viu = i >= gent_.size() || !gent_[i].caigut;
  }
}

void Serie::Engega() {
  std::vector<t_fill*> fills;
  std::vector<t_engegada> engegades;
  std::vector<size_t> quins;
  for (size_t i = 0; i < config_.robots.size(); ++i) {
    t_participant p;
    const std::string& cami = config_.robots[i];
    p.programa = cami != kDiana;
    p.nom_fixat = i < config_.noms.size() && !config_.noms[i].empty();
    p.nom = TextNet(p.nom_fixat ? config_.noms[i] : NomRobot(cami)) + "#" + std::to_string(i + 1);
    p.color = kPaleta[i % 8];
    gent_.push_back(std::move(p));
    if (!gent_[i].programa) continue;
    t_engegada e;
    e.ordre = OrdreRobot(cami);
    e.max_fitxer_mib = config_.max_fitxer_mib;
    e.aillat = config_.aillat;
    if (!config_.base_err.empty()) {
      e.err = gent_[i].err = config_.base_err + "." + NomFitxer(gent_[i].nom) + ".err";
    }
    engegades.push_back(std::move(e));
    quins.push_back(i);
  }
  fills.reserve(quins.size());
  for (size_t i : quins) fills.push_back(&gent_[i].fill);
  const std::vector<bool> engegats = EngegaJunts(fills, engegades);
  for (size_t k = 0; k < quins.size(); ++k) {
    if (engegats[k]) continue;
    const int i = static_cast<int>(quins[k]);
    // An exec that failed is the robot's; anything before it is the arena's own trouble.
    const t_motiu& error = gent_[i].fill.error;
    if (error.causa != t_causa::NO_EXECUTA) {
      R().error_arena = "cannot start a robot: " + Descriu(error);
    }
    Deixa(i, error);
  }
}

// The last `n` lines of a file, from its last 4 KiB, each made fit to show: what a robot
// wrote to its standard error just before it crashed is what its author wants to see.
std::vector<std::string> DarreresLinies(const std::string& cami, size_t n) {
  std::vector<std::string> linies;
  const int fd = open(cami.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return linies;
  char buf[4096];
  const off_t mida = lseek(fd, 0, SEEK_END);
  const off_t inici =
      mida > static_cast<off_t>(sizeof buf) ? mida - static_cast<off_t>(sizeof buf) : 0;
  const ssize_t llegit = pread(fd, buf, sizeof buf, inici);
  close(fd);
  if (llegit <= 0) return linies;
  std::string text(buf, static_cast<size_t>(llegit));
  if (inici > 0) text.erase(0, text.find('\n') + 1);  // the first line may be cut
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) linies.push_back(TextNet(l.substr(0, 200)));
  if (linies.size() > n) linies.erase(linies.begin(), linies.end() - static_cast<long>(n));
  return linies;
}

// Why a robot that did not finish its tick is dropped.
t_motiu MotiuEspera(const t_fill& fill, size_t bytes_abans, const t_config& config) {
  if (fill.bytes_rebuts - bytes_abans > config.max_bytes_tick) return Motiu(t_causa::INUNDA);
  if (fill.passat.causa != t_causa::CAP) return fill.passat;
  if (fill.ocupat.feina == t_feina::ENTRADA) return Motiu(t_causa::NO_LLEGEIX);
  t_motiu m = Motiu(t_causa::SENSE_RESPOSTA);
  m.ocupat = fill.ocupat;
  return m;
}

void Serie::Deixa(int i, const t_motiu& motiu) {
  t_participant& p = gent_[i];
  if (p.caigut) return;
  p.caigut = motiu;
  if (static_cast<size_t>(i) < mon_.robots.size()) mon_.robots[i].viu = false;
  Anota(i, '!', Descriu(t_desenllac{t_estat_robot::CAIGUT, motiu}));
  if (p.fill.pid > 0) Atura(p.fill);
}

// Sends every robot its batch, waits until each has handled it (in lock-step) or until the
// tick's wall-clock time is up (in real time), then applies what they wrote, robot by robot, so
// the outcome does not depend on which answered first.
void Serie::Intercanvia(bool lockstep) {
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    if (!p.programa || p.caigut || p.lot.empty()) continue;
    if (!Escriu(p.fill, p.lot, config_.espera_ms)) {
      if (interrupcio) return;
      Deixa(static_cast<int>(i), Motiu(t_causa::NO_LLEGEIX));
    } else if (p.senyals) {
      Senyala(p.fill);
    }
    p.lot.clear();
  }
  if (!lockstep) {
    const auto limit = inici_ + std::chrono::duration<double>((tick_ + 1) * config_.dt);
    while (std::chrono::steady_clock::now() < limit && !interrupcio) {
      for (auto& p : gent_) {
        if (p.programa && !p.caigut) Drena(p.fill);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    const int ii = static_cast<int>(i);
    if (!p.programa || p.caigut) continue;
    const size_t abans = p.fill.bytes_rebuts;
    if (lockstep &&
        !EsperaRepos(p.fill, config_.espera_ms, config_.max_bytes_tick, &config_.limits)) {
      if (interrupcio) return;  // the arena is stopping: no robot is to blame
      Deixa(ii, MotiuEspera(p.fill, abans, config_));
      continue;
    }
    if (!lockstep) Drena(p.fill);
    if (p.fill.bytes_rebuts - abans > config_.max_bytes_tick ||
        p.fill.rebut.size() > config_.max_bytes_tick) {
      Deixa(ii, Motiu(t_causa::INUNDA));
      continue;
    }
    int errors = 0;
    for (; !p.fill.linies.empty() && errors <= config_.max_errors_tick; p.fill.linies.pop_front()) {
      errors += !Ordre(ii, p.fill.linies.front());
    }
    if (errors > config_.max_errors_tick) {
      Deixa(ii, Motiu(t_causa::BRUTICIA));
      continue;
    }
    if (EsperaFi(p.fill, 0)) {  // reaped: it ended by itself
      Deixa(ii, Acabament(p.fill.estat));
      continue;
    }
    // A robot that grows between ticks is measured twice a second of game time.
    if (tick_ % 10 == 0) {
      const t_motiu passat = PassaLimits(p.fill, config_.limits);
      if (passat.causa != t_causa::CAP) Deixa(ii, passat);
    }
  }
}

// A name (one word: the protocol has checked it) takes "#N", the robot's place, so that every
// name is unique, and is confirmed with YourName. A name the match file gave stays.
void Serie::Nom(int i, const std::string& nom) {
  if (!gent_[i].nom_fixat) gent_[i].nom = nom + "#" + std::to_string(i + 1);
  Diu(i, t_nom_donat{gent_[i].nom});
}

// Colour FIRST SECOND: the first unless the field or another robot wears it (or one too like
// it), then the second, then the first free colour of the palette; confirmed with YourColour.
void Serie::Color(int i, const t_colors& colors) {
  std::vector<std::string> opcions{colors.primer};
  if (!colors.segon.empty()) opcions.push_back(colors.segon);
  opcions.insert(opcions.end(), std::begin(kPaleta), std::end(kPaleta));
  for (const auto& c : opcions) {
    bool lliure = !Xoquen(c, kFons);
    for (size_t j = 0; j < gent_.size() && lliure; ++j) {
      lliure = j == static_cast<size_t>(i) || !Xoquen(c, gent_[j].color);
    }
    if (lliure) {
      gent_[i].color = c;
      break;
    }
  }
  Diu(i, t_color_donat{gent_[i].color});
}

// Reads and applies one command line; false for a line that is no command at all.
bool Serie::Ordre(int i, const std::string& linia) {
  // A line too long to be a command is not copied into the transcript whole.
  Anota(i, '<',
        linia.size() > kMaxLinia
            ? linia.substr(0, 80) + "... (" + std::to_string(linia.size()) + " bytes)"
            : linia);
  const t_lectura lectura = LlegeixComanda(linia);
  if (lectura.avis) Diu(i, *lectura.avis);
  if (!lectura.comanda) return false;
  Aplica(i, *lectura.comanda, linia);
  return true;
}

// The commands that are the match's own business; the rest move things, in the physics.
void Serie::Aplica(int i, const t_comanda& c, const std::string& linia) {
  t_participant& p = gent_[i];
  if (std::holds_alternative<t_escriu>(c) || std::holds_alternative<t_depura>(c)) {
    Nota(i, linia, false);
  } else if (std::holds_alternative<t_dibuixa_linia>(c) ||
             std::holds_alternative<t_dibuixa_cercle>(c)) {
    Nota(i, AmbPunts(linia), true);
  } else if (const auto* nom = std::get_if<t_nom>(&c)) {
    Nom(i, nom->nom);
  } else if (const auto* colors = std::get_if<t_colors>(&c)) {
    Color(i, *colors);
  } else if (const auto* o = std::get_if<t_opcio_robot>(&c)) {
    // Options 2 and 3 are accepted and change nothing: input is always a non-blocking pipe.
    if (o->opcio == 0) p.senyals = o->valor != 0;
    if (o->opcio == 1) p.avis_gir = o->valor != 0;
    if (o->opcio == 4) p.coordenades = o->valor != 0;
  } else {
    Ordena(mon_, i, c);
  }
}

int Serie::Vius() const {
  int n = 0;
  for (const auto& r : mon_.robots) n += r.viu;
  return n;
}

// RobotsLeft to every robot still playing whenever one has died or been dropped.
void Serie::AnunciaVius() {
  const int vius = Vius();
  if (vius == anunciats_) return;
  anunciats_ = vius;
  for (size_t i = 0; i < gent_.size(); ++i) {
    if (mon_.robots[i].viu) Diu(static_cast<int>(i), t_vius{vius});
  }
}

void Serie::Tick() {
  // What each robot sees now.
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    if (!r.viu) continue;
    const int ii = static_cast<int>(i);
    Diu(ii, t_info{tick_ * config_.dt, r.vel, Normal(r.canyo)});
    if (gent_[i].coordenades) Diu(ii, t_coordenades{r.x, r.y, Normal(r.rumb)});
    const t_impacte vist = Radar(mon_, ii);
    GravaRadar(R(), ii, vist);
    Diu(ii, t_radar{vist.distancia, vist.tipus, vist.angle});
    if (vist.tipus == OBJ_ROBOT) Diu(ii, t_info_robot{mon_.robots[vist.index].energia, 0});
  }
  Intercanvia(!config_.temps_real);

  // The world moves on; what happened is told at the next tick.
  events_.clear();
  Avanca(mon_, config_.dt, events_);
  mon_.temps = (tick_ + 1) * config_.dt;
  ++tick_;
  Grava(events_);
  for (const auto& e : events_) {
    // A completed turn is told only to a robot that asked to be told.
    if (std::holds_alternative<t_gir_acabat>(e.que) && !gent_[e.robot].avis_gir) continue;
    std::visit([&](const auto& m) { Diu(e.robot, m); }, e.que);
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    const double e = mon_.robots[i].energia;
    if (mon_.robots[i].viu && e != p.energia_dita) {
      p.energia_dita = e;
      Diu(static_cast<int>(i), t_energia{e});
    }
  }
  AnunciaVius();
  Observa(false);
}

void Serie::Grava(const std::vector<t_event>& events) {
  const double t = tick_ * config_.dt;
  GravaQuadre(R(), t, mon_);
  for (const auto& e : events) {
    const t_cos_robot& r = mon_.robots[e.robot];
    // Deaths, hits, cookies and mines are marked; walls, bumps and turns are not.
    int tipus = -2;
    if (std::holds_alternative<t_mort>(e.que)) tipus = -1;
    if (const auto* xoc = std::get_if<t_xoc>(&e.que)) {
      if (xoc->tipus == OBJ_TRET || xoc->tipus == OBJ_GALETA || xoc->tipus == OBJ_MINA) {
        tipus = xoc->tipus;
      }
    }
    if (tipus != -2) R().fets.push_back({t, tipus, e.robot, r.x, r.y});
  }
}

// One game: the options, GameStarts, the ticks, GameFinishes.
void Serie::Joc(int joc) {
  if (joc != config_.primer_joc) jocs_.emplace_back();
  R().llavor = config_.llavor;
  R().joc = joc;
  tick_ = 0;
  if (joc != config_.primer_joc) Capcalera(transcripcio_, joc);
  Situa(joc);
  for (auto& p : gent_) {
    p.energia_dita = NAN;
    p.repeticio = {};
  }
  // A frame per tick and the first, in one allocation, rather than moved to a larger one each
  // time they outgrow it.
  const int ticks = static_cast<int>(std::lround(config_.durada / config_.dt));
  R().quadres.reserve(static_cast<size_t>(std::max(ticks, 0)) + 1);
  GravaQuadre(R(), 0, mon_);
  for (size_t i = 0; i < gent_.size(); ++i) {
    const int ii = static_cast<int>(i);
    for (const t_opcio& o : kOpcions) {
      Diu(ii, t_opcio_joc{o.numero, mon_.opcions[o.numero]});
    }
    Diu(ii, t_comenca{});
  }
  Intercanvia();
  anunciats_ = Vius();
  AnunciaVius();  // those dropped at its start

  inici_ = std::chrono::steady_clock::now();
  const bool duel = gent_.size() > 1;
  while (tick_ < ticks && !(duel && Vius() <= 1) && !interrupcio) Tick();
  R().interromput = interrupcio;
  // The last events (a death, a hit) still reach the robots before the game ends.
  Intercanvia();
  R().temps = tick_ * config_.dt;
  R().ticks = tick_;
  for (size_t i = 0; i < gent_.size(); ++i) Diu(static_cast<int>(i), t_acaba{});
  Intercanvia();
  Fitxes();
  Observa(true);
}

// What has become of a robot so far: dropped (and why), alive or dead.
t_desenllac Desenllac(const t_participant& p, const t_cos_robot& r) {
  t_desenllac d;
  d.estat = p.caigut ? t_estat_robot::CAIGUT : r.viu ? t_estat_robot::VIU : t_estat_robot::MORT;
  if (p.caigut) d.motiu = *p.caigut;
  return d;
}

// A live view, if any, sees the recording grow: during the game each robot's name, colour,
// energy and state as they stand, at its end the game's standing.
void Serie::Observa(bool fi) {
  if (!config_.observador) return;
  if (fi) return config_.observador(config_, R(), R().fitxes, true);
  std::vector<t_fitxa> ara(gent_.size());
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    ara[i].nom = gent_[i].nom;
    ara[i].color = gent_[i].color;
    ara[i].energia = r.energia;
    ara[i].desenllac = Desenllac(gent_[i], r);
  }
  config_.observador(config_, R(), ara, false);
}

void Serie::Fitxes() {
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    const t_participant& p = gent_[i];
    const t_desenllac desenllac = Desenllac(p, r);
    R().fitxes.push_back({p.nom,
                          r.trets,
                          r.encerts,
                          r.galetes,
                          r.mines,
                          r.energia,
                          desenllac,
                          "",
                          p.color,
                          0,
                          0,
                          {}});
  }
  const std::vector<double> punts = Punts(R().fitxes);
  for (size_t i = 0; i < punts.size(); ++i) {
    R().fitxes[i].punts = punts[i];
    if (punts[i] == 1) R().guanyador = R().fitxes[i].nom;
  }
}

void Serie::Acaba() {
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    Diu(static_cast<int>(i), t_surt{});
    if (!p.programa || p.caigut) continue;
    Escriu(p.fill, p.lot, config_.espera_ms);
    p.lot.clear();
    if (p.senyals) Senyala(p.fill);
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    if (!p.programa || p.caigut) continue;
    // A robot gets two seconds to end after ExitRobot; then it is killed. Either way it is reaped.
    const bool acaba = EsperaFi(p.fill, 2000);
    for (; !p.fill.linies.empty(); p.fill.linies.pop_front()) {
      Anota(static_cast<int>(i), '<', p.fill.linies.front());
    }
    if (!acaba) Anota(static_cast<int>(i), '!', "killed: still running after ExitRobot");
    Atura(p.fill);
  }
  for (size_t i = 0; i < gent_.size(); ++i) {
    const rusage& us = gent_[i].fill.us;
    const double cpu = static_cast<double>(us.ru_utime.tv_sec + us.ru_stime.tv_sec) +
                       static_cast<double>(us.ru_utime.tv_usec + us.ru_stime.tv_usec) / 1e6;
    for (auto& joc : jocs_) {
      if (i < joc.fitxes.size()) joc.fitxes[i].cpu = cpu;
    }
  }
  // What a robot wrote to its standard error is kept only if there is something.
  for (size_t i = 0; i < gent_.size(); ++i) {
    struct stat st;
    const std::string& err = gent_[i].err;
    if (err.empty() || stat(err.c_str(), &st) != 0) continue;
    if (st.st_size == 0) {
      unlink(err.c_str());
      continue;
    }
    const std::vector<std::string> final = DarreresLinies(err, 10);
    for (auto& joc : jocs_) {
      if (i < joc.fitxes.size()) joc.fitxes[i].err = err, joc.fitxes[i].err_final = final;
    }
  }
}

std::vector<t_resultat> Serie::Juga() {
  jocs_.emplace_back();
  ObreTranscripcio(transcripcio_, config_.transcripcio, config_.jocs > 1);
  Capcalera(transcripcio_, config_.primer_joc);
  Situa(config_.primer_joc);  // so that a robot dropped at its start is marked on the field
  Engega();
  Intercanvia();  // the start-up lines: robot options and the like
  for (size_t i = 0; i < gent_.size(); ++i) Diu(static_cast<int>(i), t_inicia{1});
  Intercanvia();  // names and colours
  // The first game is always set up, even if the arena is stopped at once, so that there is a
  // field and a result to report.
  for (int k = 0; k < std::max(1, config_.jocs) && !(k > 0 && interrupcio); ++k) {
    Joc(config_.primer_joc + k);
  }
  Acaba();
  TancaTranscripcio(transcripcio_);
  for (auto& joc : jocs_) joc.error_transcripcio = transcripcio_.error;
  // Moved, not copied: a long match's frames are most of the arena's memory.
  return std::move(jocs_);
}

}  // namespace

std::vector<t_resultat> JugaSerie(const t_config& config) {
  return Serie(config).Juga();
}

t_resultat JugaPartida(const t_config& config) {
  t_config c = config;
  c.jocs = 1;
  return std::move(JugaSerie(c).front());
}

std::string NomFitxer(const std::string& nom) {
  std::string o = nom;
  for (char& c : o) {
    const bool segur = std::isalnum(static_cast<unsigned char>(c)) || c == '#' || c == '-' ||
                       c == '_' || c == '.' || c == '+' || c == '@' || c == '=';
    if (!segur) c = '_';
  }
  // ".." alone would still name the parent folder.
  return o.find_first_not_of('.') == std::string::npos ? "_" + o : o;
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
  return TextNet(nom.substr(nom.find_last_of('/') + 1));
}

std::string MassaLlarga(const t_config& config) {
  const double ticks = std::floor(config.durada / config.dt + 0.5) + 1;
  const double quadres =
      ticks * static_cast<double>(config.robots.size()) * std::max(1, config.jocs);
  if (quadres <= kMaxQuadresRobot) return "";
  char text[320];
  std::snprintf(
      text, sizeof text,
      "too long to record: %zu robots for %.0f ticks%s is %.3g robot-frames for the "
      "replay, about %.1f GiB of memory; at most %.3g (shorten the match, or play "
      "fewer robots or games)",
      config.robots.size(), ticks,
      config.jocs > 1 ? (" in each of " + std::to_string(config.jocs) + " games").c_str() : "",
      quadres, quadres * kBytesQuadreRobot / (1 << 30), kMaxQuadresRobot);
  return text;
}

}  // namespace arena
