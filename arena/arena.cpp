// The practice arena: plays a seeded match, or a tournament of them, between robot programs,
// the built-in opponents and the sitting target; writes the transcript and prints a summary.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "arena/arguments.h"
#include "arena/fitxer.h"
#include "arena/partida.h"
#include "arena/registre.h"
#include "arena/repeticio.h"
#include "arena/sortida.h"
#include "arena/taula.h"
#include "arena/torneig.h"

namespace {

const char* const kDescripcio =
    "Plays a match in the practice arena. ROBOT (one to eight) is an executable that speaks the\n"
    "arena's line protocol, a command with its arguments in one word (\"python3 bot.py\"), or a\n"
    "built-in robot: 'diana' sits still, 'rodamon' drives around, 'cacador' drives, scans and\n"
    "shoots back, 'tavik' is this project's robot.\n"
    "Exit status: 0 done, 1 an output file could not be written, 2 bad arguments or a robot\n"
    "that cannot be started, 128+N stopped by signal N.";

// The built-in robots' programs are installed beside the arena.
std::string DirArena() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string cami = n > 0 ? std::string(exe, static_cast<size_t>(n)) : "./arena";
  return cami.substr(0, cami.find_last_of('/'));
}

// A whole number from 0 to 2^64 - 1, written as such: the parser's own conversion would take
// "-1" and "99999999999999999999" for the largest seed.
const CLI::Validator NombreNatural(
    [](const std::string& text) -> std::string {
      uint64_t n = 0;
      const char* fi = text.data() + text.size();
      const auto [p, e] = std::from_chars(text.data(), fi, n);
      if (e == std::errc::result_out_of_range) return "Value " + text + " is too large";
      if (e != std::errc() || p != fi || text.empty())
        return "Value " + text + " is not a whole number";
      return "";
    },
    "UINT64");

void Atura(int sig) {
  interrupcio = sig;
}

// SIGINT, SIGTERM and SIGHUP end the match where it is: robots ended, files written. The
// signals whose default would end the arena and that nobody needs to send it are ignored (a
// robot in a sandbox cannot signal the arena at all; one without could).
void InstallaAturada() {
  struct sigaction a {};
  a.sa_handler = Atura;
  sigemptyset(&a.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &a, nullptr);
  for (int sig :
       {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGXCPU, SIGXFSZ}) {
    std::signal(sig, SIG_IGN);
  }
}

int Error(const std::string& text, int codi) {
  std::cerr << "arena: " << text << "\n";
  return codi;
}

// Why a file could not be made at `cami`, or empty if it can; nothing is created.
std::string NoEscrivible(const std::string& cami) {
  const size_t barra = cami.find_last_of('/');
  const std::string dir = barra == std::string::npos ? "." : cami.substr(0, barra + 1);
  struct stat st;
  if (stat(cami.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return cami + ": is a directory";
    if (access(cami.c_str(), W_OK) != 0) return cami + ": " + std::strerror(errno);
    return "";
  }
  if (access(dir.c_str(), W_OK) != 0) return cami + ": " + std::strerror(errno);
  return "";
}

// Everything the command line says.
struct t_opcions {
  t_config linia;  // overrides the match file where given
  std::string transcripcio, partida, llavors, resultats, guarda;
  int torneig = 0;
  double espera = 10;
  std::vector<std::string> robots, noms, recompte;
  std::vector<double> sprt;
  double alfa = 0.05, beta = 0.05;
  bool sense_parells = false, reprendre = false, sobreescriu = false, sense_caixa = false;
  int fils = 0;
};

// FROM-TO, two whole numbers; at most a million seeds, as --tournament.
const CLI::Validator RangLlavors(
    [](const std::string& text) -> std::string {
      uint64_t de = 0, a = 0;
      const char* fi = text.data() + text.size();
      const auto [p, e] = std::from_chars(text.data(), fi, de);
      if (e != std::errc() || p == fi || *p != '-')
        return text + " is not a range FROM-TO of seeds";
      const auto [q, e2] = std::from_chars(p + 1, fi, a);
      if (e2 != std::errc() || q != fi || p + 1 == fi) {
        return text + " is not a range FROM-TO of seeds";
      }
      if (a < de) return text + ": TO is below FROM";
      if (a - de >= 1000000) return text + ": more than 1000000 seeds";
      return "";
    },
    "FROM-TO");

// A name the match gives a robot: one word, as the protocol takes it.
const CLI::Validator NomValid(
    [](const std::string& nom) -> std::string {
      const bool be = !nom.empty() && nom.size() <= 32 &&
                      std::all_of(nom.begin(), nom.end(),
                                  [](unsigned char c) { return c > 0x20 && c < 0x7f && c != '#'; });
      if (nom.size() > 32) return "'" + nom + "' is longer than 32 characters";
      return be ? "" : "'" + nom + "' is not one word of printable characters without '#'";
    },
    "NAME");

void DefineixOpcions(CLI::App& app, t_opcions& o) {
  app.add_option("--match", o.partida,
                 "a match file (TOML): robots, places, cookies, mines, shots, settings; the "
                 "other options override what they name")
      ->check(CLI::ExistingFile);
  app.add_option("--seed", o.linia.llavor, "the match's seed; the same seed gives the same match")
      ->capture_default_str()
      ->check(NombreNatural);
  app.add_option("--time", o.linia.durada, "length of the match in seconds of game time")
      ->capture_default_str()
      ->check(CLI::Range(0.05, 1e6));
  app.add_option("--transcript", o.transcripcio,
                 "where the transcript goes; the replay (.html), picture (.svg) and robots' "
                 "standard error (.NAME.err) go beside it (default out/match-SEED.txt)");
  app.add_flag("--realtime", o.linia.temps_real, "a tick every 50 ms of wall-clock time");
  app.add_option("--name", o.noms,
                 "the name shown for each robot, in order (repeat it), whatever it calls itself")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(NomValid);
  auto* torneig = app.add_option("--tournament", o.torneig,
                                 "play N seeds from --seed on (two robots: each from both "
                                 "places), print a table")
                      ->check(CLI::Range(1, 1000000));
  auto* llavors =
      app.add_option("--seeds", o.llavors,
                     "a tournament over the seeds FROM-TO, both included (at most 1000000)")
          ->check(RangLlavors);
  llavors->excludes(torneig);
  llavors->excludes(app.get_option("--seed"));
  app.add_option("--results", o.resultats,
                 "the tournament's results file, a JSON line per game (default "
                 "out/tournament-FROM-TO.jsonl); kept games go in a folder of its name");
  auto* reprendre = app.add_flag("--resume", o.reprendre,
                                 "continue the tournament of the results file: the games it has "
                                 "are not played again, the table counts them all");
  app.add_flag("--overwrite", o.sobreescriu, "replace a results file that exists")
      ->excludes(reprendre);
  auto* sprt = app.add_option("--sprt", o.sprt,
                              "ELO0 ELO1 (-1000 to 1000): play pairs until the test decides "
                              "(two robots; up to --tournament seeds, 10000 by default)")
                   ->expected(2)
                   ->allow_extra_args(false);
  app.add_option("--alpha", o.alfa, "the test's false positive rate")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 0.499))
      ->needs(sprt);
  app.add_option("--beta", o.beta, "the test's false negative rate")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 0.499))
      ->needs(sprt);
  app.add_option("--keep", o.guarda,
                 "keep transcript, replay and picture of the games that matter: drops, losses "
                 "(of the first robot), both (drops,losses), or all");
  app.add_flag("--unpaired", o.sense_parells,
               "two robots: play each seed once, not from both places");
  app.add_option("-j,--jobs", o.fils, "matches played at once (default: one per core)")
      ->check(CLI::Range(1, 1024));
  app.add_option(
         "--tally", o.recompte,
         "print the table of these results files (shards of one tournament), and nothing else")
      ->expected(1, -1)
      ->check(CLI::ExistingFile);
  app.add_option("--games", o.linia.jocs, "games in the series, played by the same robot processes")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  app.add_option("--first-game", o.linia.primer_joc,
                 "number of the first game: game K of a series can be played on its own")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  app.add_option("--answer-time", o.espera, "seconds a robot may take over one tick")
      ->capture_default_str()
      ->check(CLI::Range(0.01, 3600.0));
  app.add_option("--mem-limit", o.linia.limits.memoria_mib,
                 "MiB of resident memory a robot may use, its processes together, 0 to 1048576 "
                 "(0: no limit)")
      ->capture_default_str()
      ->check(CLI::Range(0L, 1L << 20));
  app.add_option("--proc-limit", o.linia.limits.processos,
                 "processes a robot may have at once, itself included, 0 to 100000 (0: no limit)")
      ->capture_default_str()
      ->check(CLI::Range(0, 100000));
  app.add_option("--file-limit", o.linia.max_fitxer_mib,
                 "MiB of the largest file a robot may write, 0 to 1048576 (0: no limit)")
      ->capture_default_str()
      ->check(CLI::Range(0L, 1L << 20));
  app.add_flag("--no-sandbox", o.sense_caixa,
               "run each robot as a plain child process, not in a sandbox of its own");
  app.add_option("ROBOT", o.robots,
                 "one to eight robots (with --match: they replace the file's, in order)");
}

bool EsTorneig(const t_opcions& o) {
  return o.torneig > 0 || !o.sprt.empty() || !o.llavors.empty();
}

// Options that only a tournament reads: given to a single match, they would do nothing.
std::string SenseTorneig(const CLI::App& app) {
  for (const char* nom :
       {"--results", "--resume", "--overwrite", "--keep", "--unpaired", "--jobs"}) {
    if (app.count(nom) > 0) {
      return std::string(nom) + ": only for a tournament (--tournament, --seeds or --sprt)";
    }
  }
  return "";
}

// The table of results files; exit 2 if they are not one tournament.
int Recompte(const t_opcions& o, const std::optional<t_sprt>& test) {
  std::vector<json> registres;
  std::string error;
  if (!LlegeixResultats(o.recompte, registres, error)) return Error(error, 2);
  if (test && !registres.empty() && registres.front().at("robots").size() != 2) {
    return Error("--sprt: the test needs a tournament of two robots", 2);
  }
  std::cout << TaulaResultats(registres, test);
  return 0;
}

// The file's robots, replaced in order by those of the command line; the rest stay, with their
// places and names. Says which were replaced.
void ReemplacaRobots(t_config& config, const t_opcions& o) {
  for (size_t k = 0; k < o.robots.size(); ++k) {
    const std::string cami = CamiRobot(o.robots[k], DirArena());
    if (k < config.robots.size()) {
      std::cout << "Robot " << k + 1 << " of " << o.partida << " (" << config.robots[k]
                << ") replaced by " << o.robots[k] << "\n";
      config.robots[k] = cami;
      if (k < config.noms.size()) config.noms[k].clear();
    } else {
      config.robots.push_back(cami);
    }
  }
}

// The configuration: the match file's, with what the command line names over it.
int Configura(const CLI::App& app, const t_opcions& o, t_config& config) {
  if (!o.partida.empty()) {
    std::string error;
    if (!LlegeixPartida(o.partida, DirArena(), config, error)) return Error(error, 2);
  }
  auto Si = [&](const char* opcio, auto& desti, const auto& valor) {
    if (app.count(opcio) > 0) desti = valor;
  };
  const t_config& l = o.linia;
  Si("--seed", config.llavor, l.llavor);
  Si("--time", config.durada, l.durada);
  Si("--realtime", config.temps_real, l.temps_real);
  Si("--games", config.jocs, l.jocs);
  Si("--first-game", config.primer_joc, l.primer_joc);
  Si("--answer-time", config.espera_ms, static_cast<int>(std::lround(o.espera * 1000)));
  Si("--mem-limit", config.limits.memoria_mib, l.limits.memoria_mib);
  Si("--proc-limit", config.limits.processos, l.limits.processos);
  Si("--file-limit", config.max_fitxer_mib, l.max_fitxer_mib);
  if (o.sense_caixa) config.aillat = false;
  if (o.partida.empty()) {
    for (const auto& r : o.robots) config.robots.push_back(CamiRobot(r, DirArena()));
  } else {
    ReemplacaRobots(config, o);
  }
  if (config.robots.empty()) return Error("ROBOT is required (or a match file with robots)", 2);
  if (config.robots.size() > 8) {
    return Error("ROBOT: at most eight robots, " + std::to_string(config.robots.size()) + " given",
                 2);
  }
  if (o.noms.size() > config.robots.size()) {
    return Error("--name: " + std::to_string(o.noms.size()) + " names for " +
                     std::to_string(config.robots.size()) + " robots",
                 2);
  }
  // A name for each place, so that names travel with their robots when places are swapped.
  config.noms.resize(config.robots.size());
  for (size_t k = 0; k < o.noms.size(); ++k) config.noms[k] = o.noms[k];
  // Every robot is checked before anything is started or written.
  for (const auto& cami : config.robots) {
    if (cami == kDiana) continue;
    const std::string per_que = NoEngegable(OrdreRobot(cami));
    if (!per_que.empty()) return Error("cannot start robot '" + cami + "': " + per_que, 2);
  }
  if (const std::string massa = MassaLlarga(config); !massa.empty()) return Error(massa, 2);
  // A field too full for what the match puts on it is refused before any robot starts (for a
  // tournament, the field of its first seed).
  t_config prova = config;
  if (!o.llavors.empty()) {
    prova.llavor = std::stoull(o.llavors);
  } else if (EsTorneig(o) && app.count("--seed") == 0) {
    prova.llavor = 1;
  }
  std::string error;
  if (!ComprovaDisposicio(prova, error)) return Error(error, 2);
  return 0;
}

// The folder of a tournament's kept games and robots' standard error: the results file's name
// without its extension, beside it (in out/ for a results file that is a device).
std::string DirGuardats(const std::string& resultats) {
  const std::string sense = SenseExtensio(resultats);
  std::string dir = sense == resultats ? resultats + ".d" : sense;
  if (resultats.rfind("/dev/", 0) == 0) return "out/" + dir.substr(dir.find_last_of('/') + 1);
  return dir;
}

int Torneig(const CLI::App& app, const t_opcions& o, const t_config& config,
            const std::optional<t_sprt>& test, const char* arena) {
  if (!o.transcripcio.empty()) {
    return Error("--transcript: a tournament keeps games with --keep, not one transcript", 2);
  }
  if (test && config.robots.size() != 2) {
    return Error(
        "--sprt: the test compares two robots; " + std::to_string(config.robots.size()) + " given",
        2);
  }
  t_torneig t;
  t.primera = app.count("--seed") ? config.llavor : 1;
  t.darrera = t.primera + static_cast<uint64_t>(o.torneig > 0 ? o.torneig : test ? 10000 : 1) - 1;
  if (!o.llavors.empty()) {
    t.primera = std::stoull(o.llavors);
    t.darrera = std::stoull(o.llavors.substr(o.llavors.find('-') + 1));
  }
  if (t.darrera < t.primera) return Error("--seed: the seeds go past 2^64 - 1", 2);
  if (app.count("--keep") > 0 && (o.guarda.empty() || o.guarda.back() == ',')) {
    return Error("--keep: '" + o.guarda + "' is not a list of drops, losses or all", 2);
  }
  std::istringstream guardar(o.guarda);
  for (std::string que; std::getline(guardar, que, ',');) {
    if (que == "drops") {
      t.guarda_caigudes = true;
    } else if (que == "losses") {
      t.guarda_derrotes = true;
    } else if (que == "all") {
      t.guarda_tots = true;
    } else {
      return Error("--keep: '" + que + "' is not drops, losses or all", 2);
    }
  }
  t.parells = !o.sense_parells;
  t.fils = o.fils;
  t.sprt = test;
  t.arena = arena;
  t.partida = o.partida;
  t.progres_terminal = isatty(STDERR_FILENO) == 1;
  t.resultats = !o.resultats.empty() ? o.resultats
                                     : "out/tournament-" + std::to_string(t.primera) + "-" +
                                           std::to_string(t.darrera) + ".jsonl";
  t.dir_guardats = DirGuardats(t.resultats);
  // out/ is made only when something goes there.
  if ((o.resultats.empty() || t.dir_guardats.rfind("out/", 0) == 0) && mkdir("out", 0755) != 0 &&
      errno != EEXIST) {
    return Error("out: " + std::string(std::strerror(errno)), 2);
  }
  if (const std::string per_que = NoEscrivible(t.resultats); !per_que.empty()) {
    return Error("cannot write " + per_que, 2);
  }
  if (std::string error; !ObreResultats(t, config, o.reprendre, o.sobreescriu, error)) {
    return Error(error, 2);
  }
  const auto inici = std::chrono::steady_clock::now();
  std::string error;
  const std::vector<json> registres = JugaTorneig(config, t, std::cerr, &error);
  const double segons =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - inici).count();
  std::cout << TaulaResultats(registres, test);
  const size_t nous = registres.size() - t.previs.size();
  std::cerr << nous << " games in " << segons << " s ("
            << static_cast<double>(nous) / std::max(segons, 1e-9) << " games/s)";
  if (!t.previs.empty()) std::cerr << ", besides the " << t.previs.size() << " resumed";
  std::cerr << "; results in " << t.resultats << "\n";
  for (size_t k = t.previs.size(); k < registres.size(); ++k) {
    for (const auto& f : registres[k].at("files")) {
      std::cerr << "kept: " << f.get<std::string>() << "\n";
    }
  }
  if (interrupcio) {
    std::cout << "Interrupted: the table counts the " << registres.size()
              << " games that were finished\n";
    return 128 + interrupcio;
  }
  if (!error.empty()) {
    std::cout << "Stopped: the table counts the " << registres.size()
              << " games that were recorded\n";
    return Error(error, 1);
  }
  return 0;
}

// The transcript's path; a device or a folder is refused: the replay and picture go beside it.
std::string MalTranscripcio(const std::string& cami) {
  struct stat st;
  if (stat(cami.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return "--transcript: " + cami + " is not a regular file";
  }
  if (!cami.empty() && cami.back() == '/') return "--transcript: " + cami + " is a folder";
  return "";
}

}  // namespace

int Arena(int argc, char** argv) {
  t_opcions o;
  CLI::App app{kDescripcio, "arena"};
  DefineixOpcions(app, o);
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  // A Range check lets a NaN through: every comparison with it is false.
  if (!std::isfinite(o.linia.durada)) return Error("--time: not a number of seconds", 2);
  if (!std::isfinite(o.espera)) return Error("--answer-time: not a number of seconds", 2);
  std::optional<t_sprt> test;
  if (!o.sprt.empty()) {
    test = t_sprt{o.sprt[0], o.sprt[1], o.alfa, o.beta};
    if (const std::string mal = MalsLimits(*test); !mal.empty()) return Error("--sprt: " + mal, 2);
    if (!(test->elo1 > test->elo0) || !std::isfinite(test->elo0) || !std::isfinite(test->elo1) ||
        !(test->alfa > 0 && test->alfa < 0.5) || !(test->beta > 0 && test->beta < 0.5)) {
      return Error("--sprt: ELO1 must be above ELO0, ALPHA and BETA between 0 and 0.5", 2);
    }
  }
  if (!o.recompte.empty()) {
    if (!o.robots.empty()) return Error("--tally: reads results files only, no robots", 2);
    for (const CLI::Option* opcio : app.get_options()) {
      const std::string nom = opcio->get_name();
      const bool seu = nom == "--tally" || nom == "--sprt" || nom == "--alpha" || nom == "--beta";
      if (!seu && opcio->count() > 0) {
        return Error("--tally: reads results files only; " + nom + " has nothing to do there", 2);
      }
    }
    return Recompte(o, test);
  }
  const bool es_torneig = EsTorneig(o);
  if (!es_torneig) {
    if (const std::string per_que = SenseTorneig(app); !per_que.empty()) return Error(per_que, 2);
  }
  t_config config;
  if (const int codi = Configura(app, o, config)) return codi;
  std::signal(SIGPIPE, SIG_IGN);
  if (interrupcio) return 128 + interrupcio;
  if (es_torneig) return Torneig(app, o, config, test, argv[0]);
  std::string transcripcio = o.transcripcio;
  if (const std::string per_que = MalTranscripcio(transcripcio); !per_que.empty()) {
    return Error(per_que, 2);
  }
  if (transcripcio.empty()) {
    if (mkdir("out", 0755) != 0 && errno != EEXIST)
      return Error("out: " + std::string(std::strerror(errno)), 2);
    transcripcio = "out/match-" + std::to_string(config.llavor) + ".txt";
  }
  // The replay page and the picture go beside the transcript, one of each per game.
  const std::string base = SenseExtensio(transcripcio);
  auto Base = [&](int joc) { return config.jocs > 1 ? base + ".g" + std::to_string(joc) : base; };
  for (const std::string& cami : {transcripcio, base + ".html", Base(config.primer_joc) + ".svg"}) {
    const std::string per_que = NoEscrivible(cami);
    if (!per_que.empty()) return Error("cannot write " + per_que, 2);
  }
  config.base_err = base;

  // The transcript is written as the match goes, a section per game of a series.
  config.transcripcio = transcripcio;
  const std::vector<t_resultat> jocs = JugaSerie(config);
  std::cout << (config.jocs > 1 ? ResumSerie(config, jocs) : Resum(config, jocs.front()));
  size_t linies = 0;
  for (const auto& r : jocs) linies += r.linies_transcripcio;
  int codi = interrupcio ? 128 + interrupcio : 0;
  auto Desa = [&](const char* que, const std::string& cami, const std::string& contingut,
                  const std::string& nota) {
    if (const std::string per_que = ::Desa(cami, contingut); !per_que.empty()) {
      std::cerr << "arena: cannot write " << per_que << "\n";
      if (codi == 0) codi = 1;
      return;
    }
    std::cout << que << ": " << cami << nota << "\n";
  };
  if (!jocs.front().error_arena.empty()) {
    std::cerr << "arena: " << jocs.front().error_arena << "\n";
    if (codi == 0) codi = 1;
  }
  if (!jocs.front().error_transcripcio.empty()) {
    std::cerr << "arena: cannot write " << transcripcio << ": " << jocs.front().error_transcripcio
              << "\n";
    if (codi == 0) codi = 1;
  } else {
    std::cout << "Transcript: " << transcripcio << " (" << linies << " lines)\n";
  }
  // One replay page for the whole series; a picture per game.
  Desa("Replay", base + ".html", PaginaRepeticio(config, jocs), "");
  for (const auto& r : jocs) Desa("Picture", Base(r.joc) + ".svg", ImatgeSvg(config, r), "");
  return codi;
}

int main(int argc, char** argv) {
  // A signal that comes while the arguments are read ends the arena as one that comes later.
  InstallaAturada();
  int codi = Arena(argc, argv);
  // The summary or the table is an answer too: one that could not be written is no success.
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "arena: cannot write to standard output: " << std::strerror(errno) << "\n";
    if (codi == 0) codi = 1;
  }
  return codi;
}
