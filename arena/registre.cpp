// Results records: each game's line built from its result and its write checked; read back with
// every field a table needs checked before it is used.
#include "arena/registre.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "arena/sortida.h"
#include "arena/text.h"

namespace arena {

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

// The seed, game and place order of a record: the order of the table.
std::tuple<uint64_t, int, bool> Clau(const json& r) {
  return std::make_tuple(r.at("seed").get<uint64_t>(), r.at("game").get<int>(),
                         r.at("swapped").get<bool>());
}

double PuntsPrimer(const json& r) {
  const json& robots = r.at("robots");
  const size_t primer = r.at("swapped").get<bool>() ? 1 : 0;
  const double a = robots.at(primer).at("points").get<double>();
  const double b = robots.at(1 - primer).at("points").get<double>();
  return a + (1 - a - b) / 2;
}

json Empremta(const t_config& config, const t_torneig& t) {
  double opcions[NUM_OPCIONS];
  OpcionsDelJoc(config.opcions, config.durada, opcions);
  const json o = std::vector<double>(std::begin(opcions), std::end(opcions));
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

std::string EscriuRegistre(int fd, const std::string& cami, const json& registre) {
  if (!EscriuTot(fd, Linia(registre))) return "cannot write " + cami + ": " + std::strerror(errno);
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_nlink == 0) {
    return "cannot write " + cami + ": it was removed while the tournament ran";
  }
  return "";
}

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

namespace {

// Every record a --resume found must be of this very tournament, over its seeds.
bool DeAquestTorneig(const t_torneig& t, const t_config& config, std::string& error) {
  const json empremta = Empremta(config, t);
  for (const auto& r : t.previs) {
    std::string per_que = Diferencia(empremta, r);
    const uint64_t llavor = r.at("seed").get<uint64_t>();
    if (per_que.empty() && (llavor < t.primera || llavor > t.darrera)) {
      per_que = "seed " + std::to_string(llavor) + ", outside " + std::to_string(t.primera) + "-" +
                std::to_string(t.darrera);
    }
    if (!per_que.empty()) {
      error = "--resume: " + t.resultats + " holds " + per_que +
              "; --overwrite replaces it, --results names another file";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ObreResultats(t_torneig& t, const t_config& config, bool reprendre, bool sobreescriu,
                   std::string& error) {
  struct stat st;
  const bool existeix = stat(t.resultats.c_str(), &st) == 0;
  if (existeix && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
    error = "--results: " + t.resultats + " is not a regular file";
    return false;
  }
  const bool ple = existeix && S_ISREG(st.st_mode) && st.st_size > 0;
  struct stat dir;
  if (stat(t.dir_guardats.c_str(), &dir) == 0 && !S_ISDIR(dir.st_mode)) {
    error = "cannot keep games in " + t.dir_guardats + ": not a folder";
    return false;
  }
  if (ple && !reprendre && !sobreescriu) {
    error = t.resultats +
            " already holds results: --resume continues that tournament, --overwrite replaces "
            "it, --results names another file";
    return false;
  }
  const int fd = open(t.resultats.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write " + t.resultats + ": " + std::strerror(errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    error = t.resultats + ": another arena is writing it";
    return false;
  }
  t.fd_resultats = fd;  // closed by the tournament, or with the process on an error below
  if (ple && reprendre &&
      (!LlegeixResultats({t.resultats}, t.previs, error, true) ||
       !DeAquestTorneig(t, config, error) || !ReparaFinal(t.resultats, error))) {
    return false;
  }
  if (!existeix || S_ISREG(st.st_mode)) {
    if (t.previs.empty() && ftruncate(fd, 0) != 0) {
      error = "cannot write " + t.resultats + ": " + std::strerror(errno);
      return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND);
  }
  return true;
}

}  // namespace arena
