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
#include <sstream>
#include <thread>

#include "arena/proces.h"
#include "arena/text.h"

namespace {

// The field's colour in the replay and the picture: no robot may wear it.
const char* const kFons = "#ffffff";
// Colours given by place, and offered to robots whose own colours are taken.
const char* const kPaleta[8] = {"#2b7bd6", "#d64b2b", "#2ba84a", "#b02bd6",
                                "#d6a22b", "#2bc4d6", "#6d6d6d", "#d62b8c"};

struct t_participant {
  std::string nom;         // as the match knows it, "#N" included
  bool nom_fixat = false;  // given by the match: the robot's own Name does not change it
  std::string color;
  bool programa = false;  // false for the sitting target
  t_fill fill;
  bool senyals = false;       // robot option 0: wake it with SIGUSR1
  bool avis_gir = false;      // robot option 1: tell it when a turn completes
  bool coordenades = false;   // robot option 4: tell it where it is every tick
  std::string caigut;         // why it was dropped, if it was
  std::string err;            // the file its standard error goes to
  std::string lot;            // messages waiting to be sent this tick
  double energia_dita = NAN;  // the energy it was last told in this game
  // What it has left behind so far, against its budgets (t_config): in the transcript over the
  // match, said once when cut; in the replay over this game.
  size_t bytes_transcripcio = 0;
  bool transcripcio_tallada = false;
  t_despesa repeticio;
};

bool Comenca(const std::string& text, const char* inici) {
  return text.rfind(inici, 0) == 0;
}

// The messages every tick brings: bounded by the ticks, they count against no budget.
bool DeCadaTick(const std::string& linia) {
  return Comenca(linia, "Info ") || Comenca(linia, "Radar ") || Comenca(linia, "Coordinates ") ||
         Comenca(linia, "RobotInfo ");
}

std::string Nombre(double x) {
  std::ostringstream o;
  o.imbue(std::locale::classic());
  o << x;
  return o.str();
}

// Numbers in commands are read as the robots read the arena's: a decimal comma is a point.
std::string AmbPunts(std::string linia) {
  std::replace(linia.begin(), linia.end(), ',', '.');
  return linia;
}

// "0xRRGGBB" (or "RRGGBB") as "#rrggbb"; empty if it is no colour.
std::string LlegeixColor(std::string text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return "";
  }
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "#" + text;
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
      r.rumb = atzar.Uniforme(0, 6.283185307179586);
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
  ~Serie() {
    if (fitxer_) std::fclose(fitxer_);
  }
  Serie(const Serie&) = delete;
  Serie& operator=(const Serie&) = delete;

  std::vector<t_resultat> Juga();

 private:
  t_resultat& R() { return jocs_.back(); }
  void Anota(int i, char sentit, const std::string& text);
  void Transcriu(int i, char sentit, const std::string& linia);
  void Capcalera(int joc);
  void Nota(int i, const std::string& linia, bool dibuix) {
    GravaNota(R(), pressupost_, gent_[i].repeticio, {tick_ * config_.dt, i, linia}, dibuix);
  }
  void Diu(int i, const std::string& missatge) {
    if (!gent_[i].programa || !gent_[i].caigut.empty()) return;
    Anota(i, '>', missatge);
    gent_[i].lot += missatge + "\n";
  }
  void Engega();
  void Situa(int joc);
  void Intercanvia(bool lockstep = true);
  bool Ordre(int i, const std::string& linia);
  bool Nom(int i, const std::string& linia, std::istringstream& in);
  bool Color(int i, const std::string& linia, std::istringstream& in);
  void Deixa(int i, const std::string& motiu);
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
  std::FILE* fitxer_ = nullptr;  // the transcript's file, when it is written as the match goes
  std::string error_;            // why the transcript's file could not be written
};

// Every line of the exchange passes here, made plain text first: a robot's bytes that are not
// UTF-8, and its control characters, are kept as escapes and never reach a terminal raw.
void Serie::Anota(int i, char sentit, const std::string& text) {
  const std::string linia = TextNet(text);
  t_participant& p = gent_[i];
  GravaLinia(R(), pressupost_, p.repeticio, {tick_, i, sentit, linia});
  if (sentit != '!' && !DeCadaTick(linia)) {
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
  char temps[32];
  std::snprintf(temps, sizeof temps, "%.2f", tick_ * config_.dt);
  std::string l = std::string(temps) + " " + gent_[i].nom + " " + sentit + " " + linia;
  ++R().linies_transcripcio;
  if (config_.transcripcio.empty()) {
    R().transcripcio.push_back(std::move(l));
    return;
  }
  l += '\n';
  if (fitxer_ && std::fwrite(l.data(), 1, l.size(), fitxer_) != l.size() && error_.empty()) {
    error_ = std::strerror(errno);
  }
}

// A series' transcript has a section per game.
void Serie::Capcalera(int joc) {
  if (!fitxer_ || config_.jocs <= 1) return;
  const std::string l = "# game " + std::to_string(joc) + "\n";
  if (std::fwrite(l.data(), 1, l.size(), fitxer_) != l.size() && error_.empty()) {
    error_ = std::strerror(errno);
  }
}

void Serie::Situa(int joc) {
  // Each game's layout was checked before the series started; a field that proves too full
  // anyway (a tournament's other seeds) is played with what found room, never drawn forever,
  // and said: such a game is no fair game to record.
  std::string error;
  if (!Disposa(config_, joc, mon_, error)) R().error_arena = error;
  for (size_t i = 0; i < mon_.robots.size(); ++i) {
    // A robot dropped in an earlier game is out of the series.
    mon_.robots[i].viu = i >= gent_.size() || gent_[i].caigut.empty();
  }
}

void Serie::Engega() {
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
    if (!::Engega(gent_[i].fill, e)) {
      // An exec that failed is the robot's; anything before it is the arena's own trouble.
      const std::string& error = gent_[i].fill.error;
      if (error.rfind("cannot run ", 0) != 0) R().error_arena = "cannot start a robot: " + error;
      Deixa(static_cast<int>(i), error);
    }
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
std::string Motiu(const t_fill& fill, size_t bytes_abans, const t_config& config) {
  if (fill.bytes_rebuts - bytes_abans > config.max_bytes_tick) return "floods its output";
  if (!fill.passat.empty()) return fill.passat;
  if (fill.ocupat == "it has not read all its input") return "does not read its input";
  return "no answer in time (" + fill.ocupat + ")";
}

void Serie::Deixa(int i, const std::string& motiu) {
  t_participant& p = gent_[i];
  if (!p.caigut.empty()) return;
  // What /proc says of its processes is the robot's own text too (their names).
  p.caigut = TextNet(motiu);
  if (static_cast<size_t>(i) < mon_.robots.size()) mon_.robots[i].viu = false;
  Anota(i, '!', "dropped: " + p.caigut);
  if (p.fill.pid > 0) Atura(p.fill);
}

// Sends every robot its batch, waits until each has handled it (in lock-step) or until the
// tick's wall-clock time is up (in real time), then applies what they wrote, robot by robot, so
// the outcome does not depend on which answered first.
void Serie::Intercanvia(bool lockstep) {
  for (size_t i = 0; i < gent_.size(); ++i) {
    t_participant& p = gent_[i];
    if (!p.programa || !p.caigut.empty() || p.lot.empty()) continue;
    if (!Escriu(p.fill, p.lot, config_.espera_ms)) {
      if (interrupcio) return;
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

// Name NAME: one word of printable characters; the arena adds "#N" (the robot's place) so that
// every name is unique, and confirms it with YourName. A name the match file gave stays.
bool Serie::Nom(int i, const std::string& linia, std::istringstream& in) {
  std::string resta;
  std::getline(in >> std::ws, resta);
  const size_t blanc = resta.find_first_of(" \t");
  const std::string nom = resta.substr(0, blanc);
  const bool imprimible = std::all_of(
      nom.begin(), nom.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f && c != '#'; });
  if (nom.empty() || !imprimible) {
    Diu(i, "Warning 1 " + linia);
    return false;
  }
  if (blanc != std::string::npos) Diu(i, "Warning 2 name cut at its first blank: " + nom);
  if (!gent_[i].nom_fixat) gent_[i].nom = nom + "#" + std::to_string(i + 1);
  Diu(i, "YourName " + gent_[i].nom);
  return true;
}

// Colour FIRST SECOND: the first unless the field or another robot wears it (or one too like
// it), then the second, then the first free colour of the palette; confirmed with YourColour.
bool Serie::Color(int i, const std::string& linia, std::istringstream& in) {
  std::string primer, segon;
  in >> primer >> segon;
  std::vector<std::string> opcions;
  for (const std::string& c : {LlegeixColor(primer), LlegeixColor(segon)}) {
    if (!c.empty()) opcions.push_back(c);
  }
  if (opcions.empty() || LlegeixColor(primer).empty()) {
    Diu(i, "Warning 1 " + linia);
    return false;
  }
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
  Diu(i, "YourColour 0x" + gent_[i].color.substr(1));
  return true;
}

// Applies one command line; false for a line that is no command at all.
bool Serie::Ordre(int i, const std::string& linia) {
  // A line too long to be a command is not copied into the transcript whole.
  if (linia.size() > 4096) {
    Anota(i, '<', linia.substr(0, 80) + "... (" + std::to_string(linia.size()) + " bytes)");
    Diu(i, "Warning 1 line too long");
    return false;
  }
  Anota(i, '<', linia);
  const size_t inici = linia.find_first_not_of(" \t");
  const std::string paraula = inici == std::string::npos
                                  ? ""
                                  : linia.substr(inici, linia.find_first_of(" \t", inici) - inici);
  t_participant& p = gent_[i];
  if (paraula == "Print" || paraula == "Debug") {
    Nota(i, linia, false);
    return true;
  }
  if (paraula == "Name" || paraula == "Colour") {
    std::istringstream in(linia);
    std::string w;
    in >> w;
    return paraula == "Name" ? Nom(i, linia, in) : Color(i, linia, in);
  }
  // The physics reads the commands that move things; these few are read here.
  const std::string numerica = AmbPunts(linia);
  if (paraula != "DebugLine" && paraula != "DebugCircle" && paraula != "RobotOption") {
    if (Ordena(mon_, i, numerica)) return true;
    Diu(i, "Warning 1 " + linia);
    return false;
  }
  std::istringstream nums(numerica);
  nums.imbue(std::locale::classic());
  std::string w;
  nums >> w;
  if (paraula == "DebugLine" || paraula == "DebugCircle") {
    const int n = paraula == "DebugLine" ? 4 : 3;
    bool ok = true;
    for (int k = 0; k < n && ok; ++k) {
      double x = 0;
      ok = static_cast<bool>(nums >> x) && std::isfinite(x);
    }
    if (!ok) {
      Diu(i, "Warning 1 " + linia);
      return false;
    }
    Nota(i, numerica, true);
    return true;
  }
  {  // RobotOption
    int opcio = -1, valor = 0;
    nums >> opcio >> valor;
    if (nums.fail() || opcio < 0 || opcio > 4) {
      Diu(i, "Warning 3 " + linia);
      return false;
    }
    if (opcio == 0) p.senyals = valor != 0;
    if (opcio == 1) p.avis_gir = valor != 0;
    if (opcio == 4) p.coordenades = valor != 0;
  }
  return true;  // options 2 and 3 are accepted; input is always a non-blocking pipe
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
    if (mon_.robots[i].viu) Diu(static_cast<int>(i), "RobotsLeft " + std::to_string(vius));
  }
}

void Serie::Tick() {
  // What each robot sees now.
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    if (!r.viu) continue;
    const int ii = static_cast<int>(i);
    Diu(ii,
        "Info " + Nombre(tick_ * config_.dt) + " " + Nombre(r.vel) + " " + Nombre(Normal(r.canyo)));
    if (gent_[i].coordenades) {
      Diu(ii, "Coordinates " + Nombre(r.x) + " " + Nombre(r.y) + " " + Nombre(Normal(r.rumb)));
    }
    const t_impacte vist = Radar(mon_, ii);
    GravaRadar(R(), ii, vist);
    Diu(ii, "Radar " + Nombre(vist.distancia) + " " + std::to_string(vist.tipus) + " " +
                Nombre(vist.angle));
    if (vist.tipus == OBJ_ROBOT) {
      Diu(ii, "RobotInfo " + Nombre(mon_.robots[vist.index].energia) + " 0");
    }
  }
  Intercanvia(!config_.temps_real);

  // The world moves on; what happened is told at the next tick.
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
  AnunciaVius();
  Observa(false);
}

void Serie::Grava(const std::vector<t_event>& events) {
  const double t = tick_ * config_.dt;
  GravaQuadre(R(), t, mon_);
  for (const auto& e : events) {
    const t_cos_robot& r = mon_.robots[e.robot];
    int tipus = -2;
    if (e.missatge == "Dead") tipus = -1;
    for (int k : {OBJ_TRET, OBJ_GALETA, OBJ_MINA}) {
      if (e.missatge.rfind("Collision " + std::to_string(k) + " ", 0) == 0) tipus = k;
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
  if (joc != config_.primer_joc) Capcalera(joc);
  Situa(joc);
  for (auto& p : gent_) {
    p.energia_dita = NAN;
    p.repeticio = {};
  }
  GravaQuadre(R(), 0, mon_);
  for (size_t i = 0; i < gent_.size(); ++i) {
    const int ii = static_cast<int>(i);
    for (const t_opcio& o : kOpcions) {
      Diu(ii, "GameOption " + std::to_string(o.numero) + " " + Nombre(mon_.opcions[o.numero]));
    }
    Diu(ii, "GameStarts");
  }
  Intercanvia();
  anunciats_ = Vius();
  AnunciaVius();  // those dropped at its start

  const int ticks = static_cast<int>(std::lround(config_.durada / config_.dt));
  inici_ = std::chrono::steady_clock::now();
  const bool duel = gent_.size() > 1;
  while (tick_ < ticks && !(duel && Vius() <= 1) && !interrupcio) Tick();
  R().interromput = interrupcio;
  // The last events (a death, a hit) still reach the robots before the game ends.
  Intercanvia();
  R().temps = tick_ * config_.dt;
  R().ticks = tick_;
  for (size_t i = 0; i < gent_.size(); ++i) Diu(static_cast<int>(i), "GameFinishes");
  Intercanvia();
  Fitxes();
  Observa(true);
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
    ara[i].estat = !gent_[i].caigut.empty() ? "dropped: " + gent_[i].caigut
                   : r.viu                  ? "alive"
                                            : "dead";
  }
  config_.observador(config_, R(), ara, false);
}

void Serie::Fitxes() {
  for (size_t i = 0; i < gent_.size(); ++i) {
    const t_cos_robot& r = mon_.robots[i];
    const t_participant& p = gent_[i];
    R().fitxes.push_back({p.nom,
                          r.trets,
                          r.encerts,
                          r.galetes,
                          r.mines,
                          r.energia,
                          !p.caigut.empty() ? "dropped: " + p.caigut
                          : r.viu           ? "alive"
                                            : "dead",
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
  if (!config_.transcripcio.empty()) {
    fitxer_ = std::fopen(config_.transcripcio.c_str(), "we");
    if (!fitxer_) error_ = std::strerror(errno);
    Capcalera(config_.primer_joc);
  }
  Situa(config_.primer_joc);  // so that a robot dropped at its start is marked on the field
  Engega();
  Intercanvia();  // the start-up lines: robot options and the like
  for (size_t i = 0; i < gent_.size(); ++i) Diu(static_cast<int>(i), "Initialize 1");
  Intercanvia();  // names and colours
  // The first game is always set up, even if the arena is stopped at once, so that there is a
  // field and a result to report.
  for (int k = 0; k < std::max(1, config_.jocs) && !(k > 0 && interrupcio); ++k) {
    Joc(config_.primer_joc + k);
  }
  Acaba();
  if (fitxer_) {
    const bool escrit = std::fflush(fitxer_) == 0 && !std::ferror(fitxer_);
    if (!escrit && error_.empty()) error_ = std::strerror(errno);
    if (std::fclose(fitxer_) != 0 && error_.empty()) error_ = std::strerror(errno);
    fitxer_ = nullptr;
  }
  for (auto& joc : jocs_) joc.error_transcripcio = error_;
  // Moved, not copied: a long match's frames are most of the arena's memory.
  return std::move(jocs_);
}

}  // namespace

std::vector<double> Punts(const std::vector<t_fitxa>& fitxes) {
  std::vector<double> punts(fitxes.size(), 0.0);
  double millor = -INFINITY;
  for (const auto& f : fitxes) {
    if (f.estat == "alive") millor = std::max(millor, f.energia);
  }
  std::vector<size_t> primers;
  for (size_t i = 0; i < fitxes.size(); ++i) {
    if (fitxes[i].estat == "alive" && fitxes[i].energia == millor) primers.push_back(i);
  }
  for (size_t i : primers) punts[i] = 1.0 / static_cast<double>(primers.size());
  return punts;
}

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
                  f.encerts, f.galetes, f.mines, f.energia, f.estat.c_str());
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
