// Match files read with toml++: every key is checked against what it may be, and every error
// names the file, line and column where it stands, before any robot is started.
#include "arena/fitxer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "arena/protocol.h"

namespace arena {

namespace {

// A match file is a page of settings: anything larger, or nested deeper, is not one. The depth
// is checked before toml++ reads the text, since it follows nesting by recursion.
constexpr size_t kMidaMax = 1 << 20;
constexpr int kNivellsMax = 32;

// An error at a place of the file; thrown up to LlegeixPartida, never out of it.
struct t_error {
  toml::source_region on;
  std::string que;
};

[[noreturn]] void Falla(const toml::node& node, const std::string& que) {
  throw t_error{node.source(), que};
}

// The game options a file may set, by the names the table of options gives them.
std::map<std::string, int> NomsOpcions() {
  std::map<std::string, int> noms;
  for (const t_opcio& o : kOpcions) {
    if (o.nom) noms[o.nom] = o.numero;
  }
  return noms;
}

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

// A string, without control characters: it ends up in file names, command lines and summaries.
std::string Text(const toml::table& t, const std::string& clau) {
  const toml::node* n = t.get(clau);
  if (!n) return "";
  if (!n->is_string()) Falla(*n, "'" + clau + "' must be a string");
  std::string text = *n->value<std::string>();
  if (std::any_of(text.begin(), text.end(),
                  [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
    Falla(*n, "'" + clau + "' must not hold control characters");
  }
  return text;
}

// A robot's name as the protocol takes it: one word of printable ASCII without '#' (which
// starts the robot's number). Where it becomes part of a file name, that name is made safe.
std::string Nom(const toml::table& t) {
  std::string nom = Text(t, "name");
  if (!t.contains("name")) return nom;
  if (!NomValid(nom) || nom.size() > kNomMax) {
    Falla(*t.get("name"), "a name is one word of 1 to " + std::to_string(kNomMax) +
                              " printable ASCII characters, without '#'");
  }
  return nom;
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

// The match's settings, each over what `c` holds.
void LlegeixValors(const toml::table& arrel, t_config& c) {
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
    const std::map<std::string, int> per_nom = NomsOpcions();
    std::set<std::string> noms;
    for (const auto& [nom, _] : per_nom) noms.insert(nom);
    NomesClaus(*opcions, noms, "options");
    for (const auto& [nom, numero] : per_nom) {
      if (const toml::node* v = opcions->get(nom)) c.opcions[numero] = Nombre(*v, nom);
    }
  }
}

// Places are checked against the field once it is known.
void Dins(const t_config& c, const toml::table& t, double x, double y, double radi,
          const std::string& que) {
  if (x < radi || y < radi || x > c.amplada - radi || y > c.alcada - radi) {
    std::ostringstream o;
    o << que << " at (" << x << ", " << y << ") is outside the " << c.amplada << " x " << c.alcada
      << " field";
    Falla(t, o.str());
  }
}

// One [[robot]]: its program, its name, and its place unless it is to be drawn at random.
void LlegeixRobot(const toml::table& r, const std::string& dir, const std::string& dir_rivals,
                  t_config& c) {
  NomesClaus(r, {"program", "name", "x", "y", "heading", "speed"}, "a robot");
  const std::string programa = Text(r, "program");
  if (programa.empty()) Falla(r, "a robot needs its 'program'");
  c.robots.push_back(CamiRobot(Relatiu(programa, dir), dir_rivals));
  c.noms.push_back(Nom(r));
  t_lloc lloc{0, 0, 0};
  lloc.aleatori = !r.contains("x") && !r.contains("y");
  if (!lloc.aleatori && !(r.contains("x") && r.contains("y")))
    Falla(r, "a robot's place needs both x and y");
  lloc.x = Nombre(r, "x", 0, -1e9, 1e9);
  lloc.y = Nombre(r, "y", 0, -1e9, 1e9);
  lloc.rumb = Nombre(r, "heading", 0, -1e6, 1e6);
  lloc.vel = Nombre(r, "speed", 0, -VEL_MAX, VEL_MAX);
  if (!lloc.aleatori) {
    Dins(c, r, lloc.x, lloc.y, RADI_ROBOT, "a robot");
    for (size_t k = 0; k < c.llocs.size(); ++k) {
      const t_lloc& altre = c.llocs[k];
      if (!altre.aleatori && std::hypot(altre.x - lloc.x, altre.y - lloc.y) < 2 * RADI_ROBOT) {
        Falla(r, "this robot overlaps robot " + std::to_string(k + 1));
      }
    }
  }
  c.llocs.push_back(lloc);
}

// The cookies, mines and shots placed by hand.
void LlegeixObjectes(const toml::table& arrel, t_config& c) {
  c.objectes.clear();
  for (const auto& [clau, tipus] : {std::pair{"cookie", OBJ_GALETA}, std::pair{"mine", OBJ_MINA}}) {
    if (const toml::array* llista = Taules(arrel, clau)) {
      for (const toml::node& n : *llista) {
        const toml::table& o = *n.as_table();
        NomesClaus(o, {"x", "y"}, std::string("a ") + clau);
        if (!o.contains("x") || !o.contains("y"))
          Falla(o, std::string("a ") + clau + " needs x and y");
        const double x = Nombre(o, "x", 0, -1e9, 1e9), y = Nombre(o, "y", 0, -1e9, 1e9);
        Dins(c, o, x, y, RADI_OBJECTE, std::string("a ") + clau);
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
      Dins(c, t, x, y, 0, "a shot");
      const double rumb = Nombre(t, "heading", 0, -1e6, 1e6);
      const double vel = Nombre(t, "speed", 10, 0, 1000);
      const double energia = Nombre(t, "energy", 1, 0, 1000);
      c.trets.push_back({x, y, vel * std::cos(rumb), vel * std::sin(rumb), energia, -1});
    }
  }
}

void Llegeix(const toml::table& arrel, const std::string& dir, const std::string& dir_rivals,
             t_config& c) {
  NomesClaus(arrel,
             {"seed", "duration", "tick", "games", "field", "options", "robot", "cookies", "mines",
              "cookie", "mine", "shot", "answer_time", "memory_limit", "process_limit",
              "file_limit", "description"},
             "the match");
  LlegeixValors(arrel, c);
  if (const toml::array* robots = Taules(arrel, "robot")) {
    if (robots->empty() || robots->size() > 8) Falla(*robots, "a match has one to eight robots");
    c.robots.clear();
    c.llocs.clear();
    c.noms.clear();
    for (const toml::node& n : *robots) LlegeixRobot(*n.as_table(), dir, dir_rivals, c);
  }
  LlegeixObjectes(arrel, c);
}

// A place in the text, counted as toml++ counts it: lines from 1, columns in characters from 1.
struct t_posicio {
  int linia = 1, columna = 1;
};

// Follows how deep the text nests, as far as TOML's grammar tells it without reading values:
// each part of a key or a table header is a level, and so is each array (an inline table is at
// the level of its key, its keys below it; an array of tables is one more). Strings and comments
// are skipped as TOML reads them, so that brackets and dots inside them do not count. It errs on
// the side of counting too much; anything it misreads toml++ refuses on its own.
class t_niuament {
 public:
  explicit t_niuament(const std::string& text) : text_(text) {
    if (Ve("\xef\xbb\xbf")) i_ = 3;  // a byte order mark, which toml++ skips too
  }

  // Empty if the text nests at most kNivellsMax deep; else what is wrong, at `on`.
  std::string Examina(t_posicio& on) {
    while (i_ < text_.size()) {
      const char c = text_[i_];
      on = posicio_;
      if (c == '"' || c == '\'') {
        Cadena(c);
        clau_buida_ = false;
        continue;
      }
      if (c == '#') {
        while (i_ < text_.size() && text_[i_] != '\n') Avanca();
        continue;
      }
      if (c == '\n') {
        if (pila_.empty()) Clau(true);
      } else if (c == '[' && clau_ && pila_.empty() && clau_buida_) {
        capcalera_ = true;
        if (Ve("[[")) Avanca(), capcalera_doble_ = true;
      } else if (c == ']' && capcalera_) {
        // The header's parts, one more for an array of tables.
        base_ = parts_ + (capcalera_doble_ ? 1 : 0);
        capcalera_ = capcalera_doble_ = false;
        clau_ = false;
        if (Ve("]]")) Avanca();
      } else if (c == '.' && clau_) {
        // A header names its table from the root; a key, from the table it is in.
        if (++parts_ + (capcalera_ ? 1 : Base()) > kNivellsMax) return Massa();
      } else if (c == '=' && clau_ && !capcalera_) {
        nivell_ = Base() + parts_;
        clau_ = false;
        if (nivell_ > kNivellsMax) return Massa();
      } else if ((c == '[' || c == '{') && !clau_) {
        // An array's items are a level below it; an inline table's keys count on their own.
        if (c == '[' && ++nivell_ > kNivellsMax) return Massa();
        pila_.emplace_back(c, nivell_);
        if (c == '{') Clau(false);
      } else if ((c == ']' || c == '}') && !pila_.empty() &&
                 pila_.back().first == (c == ']' ? '[' : '{')) {
        pila_.pop_back();
        clau_ = false;
        nivell_ = Base();
      } else if (c == ',' && !pila_.empty()) {
        if (pila_.back().first == '{') {
          Clau(false);
        } else {
          nivell_ = pila_.back().second;
        }
      } else if (c != ' ' && c != '\t' && c != '\r') {
        clau_buida_ = false;
      }
      Avanca();
    }
    return "";
  }

 private:
  // The level keys start from: the table of the last header, or the inline table they are in.
  int Base() const { return pila_.empty() ? base_ : pila_.back().second; }
  void Clau(bool linia) {
    clau_ = true;
    clau_buida_ = linia;
    parts_ = 1;
  }
  bool Ve(const char* que) const { return text_.compare(i_, std::strlen(que), que) == 0; }
  void Avanca() {
    if (text_[i_] == '\n') {
      ++posicio_.linia, posicio_.columna = 1;
    } else if ((static_cast<unsigned char>(text_[i_]) & 0xc0) != 0x80) {
      ++posicio_.columna;
    }
    ++i_;
  }
  std::string Massa() const {
    return "nested more than " + std::to_string(kNivellsMax) +
           " levels deep (tables, dotted keys, inline tables and arrays)";
  }
  // A string from its opening quote to past its closing one: basic ("...", with escapes) or
  // literal ('...'), on one line or, tripled, on many.
  void Cadena(char cometa) {
    const std::string triple(3, cometa);
    const bool llarga = Ve(triple.c_str());
    for (int k = 0; k < (llarga ? 3 : 1); ++k) Avanca();
    while (i_ < text_.size()) {
      const char c = text_[i_];
      if (c == '\\' && cometa == '"') {
        Avanca();
        if (i_ < text_.size()) Avanca();
      } else if (c == cometa && !llarga) {
        Avanca();
        return;
      } else if (c == cometa && Ve(triple.c_str())) {
        // Up to two quotes more belong to the string: """a""""" ends with a"".
        for (int k = 0; k < 5 && i_ < text_.size() && text_[i_] == cometa; ++k) Avanca();
        return;
      } else if (c == '\n' && !llarga) {
        return;
      } else {
        Avanca();
      }
    }
  }

  const std::string& text_;
  size_t i_ = 0;
  t_posicio posicio_;
  std::vector<std::pair<char, int>> pila_;  // open inline tables and arrays, each with its level
  bool clau_ = true;                        // reading a key (or a header), not a value
  bool clau_buida_ = true;                  // at the start of a line, before the key
  bool capcalera_ = false, capcalera_doble_ = false;
  int parts_ = 1;   // parts of the key read so far
  int base_ = 0;    // the level of the last table header
  int nivell_ = 0;  // the level of the value being read
};

// The whole file, if it is a regular file no larger than kMidaMax. Opened without blocking, so
// that a FIFO or a device named as a match file is refused instead of waited on.
bool LlegeixText(const std::string& cami, std::string& text, std::string& error) {
  struct stat st;
  auto No = [&](const std::string& que) {
    error = cami + ": " + que;
    return false;
  };
  if (stat(cami.c_str(), &st) != 0) return No(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return No("is a directory");
  if (!S_ISREG(st.st_mode)) return No("is not a regular file");
  const int fd = open(cami.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return No(std::strerror(errno));
  // What was opened is checked again: the name may have been replaced since stat.
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool cap = regular && static_cast<unsigned long long>(st.st_size) <= kMidaMax;
  text.clear();
  char bloc[65536];
  ssize_t n = 0;
  while (cap && text.size() <= kMidaMax &&
         ((n = read(fd, bloc, sizeof bloc)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) text.append(bloc, static_cast<size_t>(n));
  }
  const int errada = errno;
  close(fd);
  if (!regular) return No("is not a regular file");
  if (!cap || text.size() > kMidaMax) {
    return No("larger than " + std::to_string(kMidaMax >> 20) + " MiB: not a match file");
  }
  if (n < 0) return No(std::strerror(errada));
  return true;
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
  std::string text;
  if (!LlegeixText(cami, text, error)) return false;
  auto Lloc = [&](int linia, int columna) {
    return cami + ":" + std::to_string(linia) + ":" + std::to_string(columna) + ": ";
  };
  t_posicio on;
  if (const std::string que = t_niuament(text).Examina(on); !que.empty()) {
    error = Lloc(on.linia, on.columna) + que;
    return false;
  }
  try {
    const toml::table arrel = toml::parse(text, cami);
    t_config c = config;
    Llegeix(arrel, dir, dir_rivals, c);
    config = c;
    return true;
  } catch (const toml::parse_error& e) {
    const auto& lloc = e.source().begin;
    error = Lloc(static_cast<int>(lloc.line), static_cast<int>(lloc.column)) +
            std::string(e.description());
  } catch (const t_error& e) {
    error = Lloc(static_cast<int>(e.on.begin.line), static_cast<int>(e.on.begin.column)) + e.que;
  } catch (const std::exception& e) {
    error = cami + ": " + e.what();
  }
  return false;
}

}  // namespace arena
