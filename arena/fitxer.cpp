// Match files read with toml++: every key is checked against what it may be, and every error
// names the file, line and column where it stands, before any robot is started.
#include "arena/fitxer.h"

#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace {

// An error at a place of the file; thrown up to LlegeixPartida, never out of it.
struct t_error {
  toml::source_region on;
  std::string que;
};

[[noreturn]] void Falla(const toml::node& node, const std::string& que) {
  throw t_error{node.source(), que};
}

// The game options a file may set, by the names it uses for them.
const std::map<std::string, int> kOpcions = {
    {"body_turn", OPT_GIR_COS},          {"cannon_turn", OPT_GIR_CANYO},
    {"radar_turn", OPT_GIR_RADAR},       {"max_acceleration", OPT_ACCEL_MAX},
    {"min_acceleration", OPT_ACCEL_MIN}, {"start_energy", OPT_ENERGIA_INICIAL},
    {"max_energy", OPT_ENERGIA_MAX},     {"shot_speed", OPT_VEL_TRET},
    {"min_shot", OPT_TRET_MIN},          {"max_shot", OPT_TRET_MAX}};

void NomesClaus(const toml::table& t, const std::set<std::string>& claus, const std::string& on) {
  for (const auto& [clau, _] : t) {
    if (!claus.count(std::string(clau.str()))) {
      std::string totes;
      for (const auto& c : claus) totes += (totes.empty() ? "" : ", ") + c;
      throw t_error{clau.source(), "unknown key '" + std::string(clau.str()) + "' in " + on +
                                       " (known: " + totes + ")"};
    }
  }
}

double Nombre(const toml::node& n, const std::string& clau) {
  if (auto v = n.value<double>(); v && n.is_number() && std::isfinite(*v)) return *v;
  Falla(n, "'" + clau + "' must be a finite number");
}

// A number within [lo, hi], or `defecte` if the key is absent.
double Nombre(const toml::table& t, const std::string& clau, double defecte, double lo, double hi) {
  const toml::node* n = t.get(clau);
  if (!n) return defecte;
  const double v = Nombre(*n, clau);
  if (v < lo || v > hi) {
    std::ostringstream o;
    o << "'" << clau << "' must be from " << lo << " to " << hi << ", not " << v;
    Falla(*n, o.str());
  }
  return v;
}

long long Enter(const toml::table& t, const std::string& clau, long long defecte, long long lo,
                long long hi) {
  const toml::node* n = t.get(clau);
  if (!n) return defecte;
  const auto v = n->value<int64_t>();
  if (!n->is_integer() || !v) Falla(*n, "'" + clau + "' must be a whole number");
  if (*v < lo || *v > hi) {
    Falla(*n, "'" + clau + "' must be from " + std::to_string(lo) + " to " + std::to_string(hi) +
                  ", not " + std::to_string(*v));
  }
  return *v;
}

std::string Text(const toml::table& t, const std::string& clau) {
  const toml::node* n = t.get(clau);
  if (!n) return "";
  if (!n->is_string()) Falla(*n, "'" + clau + "' must be a string");
  return *n->value<std::string>();
}

const toml::array* Taules(const toml::table& t, const std::string& clau) {
  const toml::node* n = t.get(clau);
  if (!n) return nullptr;
  const toml::array* a = n->as_array();
  if (!a || !a->is_array_of_tables()) Falla(*n, "'" + clau + "' must be written [[" + clau + "]]");
  return a;
}

// A program relative to the match file's folder: its first word, and later words that name
// files there ("python3 bot.py").
std::string Relatiu(const std::string& programa, const std::string& dir) {
  std::istringstream in(programa);
  std::string resultat;
  bool primer = true;
  for (std::string w; in >> w; primer = false) {
    struct stat st;
    const bool relatiu = !w.empty() && w[0] != '/' && !dir.empty();
    if (relatiu && ((primer && w.find('/') != std::string::npos) ||
                    (!primer && stat((dir + "/" + w).c_str(), &st) == 0))) {
      w = dir + "/" + w;
    }
    resultat += (resultat.empty() ? "" : " ") + w;
  }
  return resultat;
}

void Llegeix(const toml::table& arrel, const std::string& dir, const std::string& dir_rivals,
             t_config& c) {
  NomesClaus(arrel,
             {"seed", "duration", "tick", "games", "field", "options", "robot", "cookies", "mines",
              "cookie", "mine", "shot", "answer_time", "memory_limit", "process_limit",
              "file_limit", "description"},
             "the match");
  Text(arrel, "description");
  c.llavor =
      static_cast<uint64_t>(Enter(arrel, "seed", static_cast<long long>(c.llavor), 0, INT64_MAX));
  c.durada = Nombre(arrel, "duration", c.durada, 0.05, 1e6);
  c.dt = Nombre(arrel, "tick", c.dt, 0.001, 1);
  c.jocs = static_cast<int>(Enter(arrel, "games", c.jocs, 1, 100000));
  c.galetes = static_cast<int>(Enter(arrel, "cookies", c.galetes, 0, 100));
  c.mines = static_cast<int>(Enter(arrel, "mines", c.mines, 0, 100));
  c.espera_ms = static_cast<int>(
      std::lround(1000 * Nombre(arrel, "answer_time", c.espera_ms / 1000.0, 0.01, 3600)));
  c.limits.memoria_mib = Enter(arrel, "memory_limit", c.limits.memoria_mib, 0, 1 << 20);
  c.limits.processos =
      static_cast<int>(Enter(arrel, "process_limit", c.limits.processos, 0, 100000));
  c.max_fitxer_mib = Enter(arrel, "file_limit", c.max_fitxer_mib, 0, 1 << 20);
  if (const toml::node* n = arrel.get("field")) {
    const toml::table* camp = n->as_table();
    if (!camp) Falla(*n, "'field' must be a table: field = { width = 40, height = 30 }");
    NomesClaus(*camp, {"width", "height"}, "field");
    c.amplada = Nombre(*camp, "width", c.amplada, 4, 1000);
    c.alcada = Nombre(*camp, "height", c.alcada, 4, 1000);
  }
  if (const toml::node* n = arrel.get("options")) {
    const toml::table* opcions = n->as_table();
    if (!opcions) Falla(*n, "'options' must be a table");
    std::set<std::string> noms;
    for (const auto& [nom, _] : kOpcions) noms.insert(nom);
    NomesClaus(*opcions, noms, "options");
    for (const auto& [nom, numero] : kOpcions) {
      if (const toml::node* v = opcions->get(nom)) c.opcions[numero] = Nombre(*v, nom);
    }
  }
  // Places are checked against the field once it is known.
  auto Dins = [&](const toml::table& t, double x, double y, double radi, const std::string& que) {
    if (x < radi || y < radi || x > c.amplada - radi || y > c.alcada - radi) {
      std::ostringstream o;
      o << que << " at (" << x << ", " << y << ") is outside the " << c.amplada << " x " << c.alcada
        << " field";
      Falla(t, o.str());
    }
  };
  if (const toml::array* robots = Taules(arrel, "robot")) {
    if (robots->empty() || robots->size() > 8) Falla(*robots, "a match has one to eight robots");
    c.robots.clear();
    c.llocs.clear();
    c.noms.clear();
    for (const toml::node& n : *robots) {
      const toml::table& r = *n.as_table();
      NomesClaus(r, {"program", "name", "x", "y", "heading", "speed"}, "a robot");
      const std::string programa = Text(r, "program");
      if (programa.empty()) Falla(r, "a robot needs its 'program'");
      c.robots.push_back(CamiRobot(Relatiu(programa, dir), dir_rivals));
      const std::string nom = Text(r, "name");
      if (nom.find_first_of(" \t#") != std::string::npos)
        Falla(*r.get("name"), "a name is one word, without '#'");
      c.noms.push_back(nom);
      t_lloc lloc{0, 0, 0};
      lloc.aleatori = !r.contains("x") && !r.contains("y");
      if (!lloc.aleatori && !(r.contains("x") && r.contains("y")))
        Falla(r, "a robot's place needs both x and y");
      lloc.x = Nombre(r, "x", 0, -1e9, 1e9);
      lloc.y = Nombre(r, "y", 0, -1e9, 1e9);
      lloc.rumb = Nombre(r, "heading", 0, -1e6, 1e6);
      lloc.vel = Nombre(r, "speed", 0, -VEL_MAX, VEL_MAX);
      if (!lloc.aleatori) {
        Dins(r, lloc.x, lloc.y, RADI_ROBOT, "a robot");
        for (size_t k = 0; k < c.llocs.size(); ++k) {
          const t_lloc& altre = c.llocs[k];
          if (!altre.aleatori && std::hypot(altre.x - lloc.x, altre.y - lloc.y) < 2 * RADI_ROBOT) {
            Falla(r, "this robot overlaps robot " + std::to_string(k + 1));
          }
        }
      }
      c.llocs.push_back(lloc);
    }
  }
  c.objectes.clear();
  for (const auto& [clau, tipus] : {std::pair{"cookie", OBJ_GALETA}, std::pair{"mine", OBJ_MINA}}) {
    if (const toml::array* llista = Taules(arrel, clau)) {
      for (const toml::node& n : *llista) {
        const toml::table& o = *n.as_table();
        NomesClaus(o, {"x", "y"}, std::string("a ") + clau);
        if (!o.contains("x") || !o.contains("y"))
          Falla(o, std::string("a ") + clau + " needs x and y");
        const double x = Nombre(o, "x", 0, -1e9, 1e9), y = Nombre(o, "y", 0, -1e9, 1e9);
        Dins(o, x, y, RADI_OBJECTE, std::string("a ") + clau);
        c.objectes.push_back({x, y, tipus});
      }
    }
  }
  c.trets.clear();
  if (const toml::array* trets = Taules(arrel, "shot")) {
    for (const toml::node& n : *trets) {
      const toml::table& t = *n.as_table();
      NomesClaus(t, {"x", "y", "heading", "speed", "energy"}, "a shot");
      if (!t.contains("x") || !t.contains("y")) Falla(t, "a shot needs x and y");
      const double x = Nombre(t, "x", 0, -1e9, 1e9), y = Nombre(t, "y", 0, -1e9, 1e9);
      Dins(t, x, y, 0, "a shot");
      const double rumb = Nombre(t, "heading", 0, -1e6, 1e6);
      const double vel = Nombre(t, "speed", 10, 0, 1000);
      const double energia = Nombre(t, "energy", 1, 0, 1000);
      c.trets.push_back({x, y, vel * std::cos(rumb), vel * std::sin(rumb), energia, -1});
    }
  }
}

}  // namespace

std::string CamiRobot(const std::string& robot, const std::string& dir_rivals) {
  if (robot == "rodamon" || robot == "cacador" || robot == "tavik") return dir_rivals + "/" + robot;
  return robot;
}

bool LlegeixPartida(const std::string& cami, const std::string& dir_rivals, t_config& config,
                    std::string& error) {
  const size_t barra = cami.find_last_of('/');
  const std::string dir = barra == std::string::npos ? "." : cami.substr(0, barra);
  struct stat st;
  if (stat(cami.c_str(), &st) != 0 || access(cami.c_str(), R_OK) != 0) {
    error = cami + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = cami + ": is a directory";
    return false;
  }
  try {
    const toml::table arrel = toml::parse_file(cami);
    t_config c = config;
    Llegeix(arrel, dir, dir_rivals, c);
    config = c;
    return true;
  } catch (const toml::parse_error& e) {
    const auto& on = e.source().begin;
    error = cami + ":" + std::to_string(on.line) + ":" + std::to_string(on.column) + ": " +
            std::string(e.description());
  } catch (const t_error& e) {
    error = cami + ":" + std::to_string(e.on.begin.line) + ":" + std::to_string(e.on.begin.column) +
            ": " + e.que;
  }
  return false;
}
