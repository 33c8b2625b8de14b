// The practice arena: plays a seeded match, or a tournament of them, between robot programs,
// the built-in opponents and the sitting target; writes the transcript and prints a summary.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "arena/repeticio.h"
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

// Writes `text` to `cami`; false with errno set if any of it could not be written.
bool Escriu(const std::string& cami, const std::string& text) {
  const int fd = open(cami.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  for (size_t fet = 0; fet < text.size();) {
    const ssize_t n = write(fd, text.data() + fet, text.size() - fet);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = n < 0 ? errno : ENOSPC;
      close(fd);
      errno = e;
      return false;
    }
    fet += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  t_config linia;  // what the command line says; it overrides the match file
  std::string transcripcio, partida;
  int torneig = 0;
  double espera = 10;
  std::vector<std::string> robots;

  CLI::App app{kDescripcio, "arena"};
  app.add_option("--match", partida,
                 "a match file (TOML): robots, places, cookies, mines, shots, settings; the "
                 "other options override what they name")
      ->check(CLI::ExistingFile);
  app.add_option("--seed", linia.llavor, "the match's seed; the same seed gives the same match")
      ->capture_default_str()
      ->check(NombreNatural);
  app.add_option("--time", linia.durada, "length of the match in seconds of game time")
      ->capture_default_str()
      ->check(CLI::Range(0.05, 1e6));
  app.add_option("--transcript", transcripcio,
                 "where the transcript goes; the replay (.html) and picture (.svg) go beside it "
                 "(default out/match-SEED.txt)");
  app.add_flag("--realtime", linia.temps_real, "a tick every 50 ms of wall-clock time");
  app.add_option("--tournament", torneig,
                 "play N seeds from --seed on (two robots: each from both places), print a table")
      ->check(CLI::Range(1, 1000000));
  std::string llavors, resultats, guarda;
  std::vector<double> sprt;
  std::vector<std::string> recompte;
  bool sense_parells = false;
  int fils = 0;
  app.add_option("--seeds", llavors, "a tournament over the seeds FROM-TO, both included");
  app.add_option("--results", resultats,
                 "the tournament's results file, a JSON line per game (default "
                 "out/tournament-FROM-TO.jsonl)");
  app.add_option("--sprt", sprt,
                 "ELO0 ELO1 [ALPHA BETA]: play pairs until the test decides (up to --tournament "
                 "seeds, 10000 by default)")
      ->expected(2, 4);
  app.add_option("--keep", guarda,
                 "keep transcript, replay and picture of the games that matter: drops, losses "
                 "(of the first robot), or both: drops,losses");
  app.add_flag("--unpaired", sense_parells,
               "two robots: play each seed once, not from both places");
  app.add_option("-j,--jobs", fils, "matches played at once (default: one per core)")
      ->check(CLI::Range(1, 1024));
  app.add_option(
         "--tally", recompte,
         "print the table of these results files (shards of one tournament), and nothing else")
      ->expected(1, -1)
      ->check(CLI::ExistingFile);
  app.add_option("--games", linia.jocs, "games in the series, played by the same robot processes")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  app.add_option("--first-game", linia.primer_joc,
                 "number of the first game: game K of a series can be played on its own")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  app.add_option("--answer-time", espera, "seconds a robot may take over one tick")
      ->capture_default_str()
      ->check(CLI::Range(0.01, 3600.0));
  app.add_option("--mem-limit", linia.limits.memoria_mib,
                 "MiB of resident memory a robot may use, its processes together (0: no limit)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app.add_option("--proc-limit", linia.limits.processos,
                 "processes a robot may have at once, itself included (0: no limit)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app.add_option("--file-limit", linia.max_fitxer_mib,
                 "MiB of the largest file a robot may write (0: no limit)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  bool sense_caixa = false;
  app.add_flag("--no-sandbox", sense_caixa,
               "run each robot as a plain child process, not in a sandbox of its own");
  app.add_option("ROBOT", robots,
                 "one to eight robots (with --match: they replace the file's, in its places)");
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  // A Range check lets a NaN through: every comparison with it is false.
  if (!std::isfinite(linia.durada)) return Error("--time: not a number of seconds", 2);
  if (!std::isfinite(espera)) return Error("--answer-time: not a number of seconds", 2);
  std::optional<t_sprt> test;
  if (!sprt.empty()) {
    if (sprt.size() == 3) return Error("--sprt: give ELO0 ELO1, or ELO0 ELO1 ALPHA BETA", 2);
    test = t_sprt{sprt[0], sprt[1], sprt.size() == 4 ? sprt[2] : 0.05,
                  sprt.size() == 4 ? sprt[3] : 0.05};
    if (!(test->elo1 > test->elo0) || !(test->alfa > 0 && test->alfa < 0.5) ||
        !(test->beta > 0 && test->beta < 0.5)) {
      return Error("--sprt: ELO1 must be above ELO0, ALPHA and BETA between 0 and 0.5", 2);
    }
  }
  if (!recompte.empty()) {
    std::vector<json> registres;
    std::string error;
    if (!LlegeixResultats(recompte, registres, error)) return Error(error, 2);
    std::cout << TaulaResultats(registres, test);
    return 0;
  }
  t_torneig t;
  t.primera = app.count("--seed") ? linia.llavor : 1;
  t.darrera = t.primera + static_cast<uint64_t>(torneig > 0 ? torneig : test ? 10000 : 1) - 1;
  if (!llavors.empty()) {
    unsigned long long de = 0, a = 0;
    char resta = 0;
    if (std::sscanf(llavors.c_str(), "%llu-%llu%c", &de, &a, &resta) != 2 || a < de ||
        llavors[0] == '-') {
      return Error("--seeds: " + llavors + " is not a range FROM-TO of seeds", 2);
    }
    t.primera = de;
    t.darrera = a;
  }
  std::istringstream guardar(guarda);
  for (std::string que; std::getline(guardar, que, ',');) {
    if (que == "drops") {
      t.guarda_caigudes = true;
    } else if (que == "losses") {
      t.guarda_derrotes = true;
    } else {
      return Error("--keep: '" + que + "' is not drops or losses", 2);
    }
  }
  const bool es_torneig = torneig > 0 || test || !llavors.empty();
  if (robots.size() > 8) {
    return Error("ROBOT: at most eight robots, " + std::to_string(robots.size()) + " given", 2);
  }

  t_config config;
  if (!partida.empty()) {
    std::string error;
    if (!LlegeixPartida(partida, DirArena(), config, error)) return Error(error, 2);
  }
  auto Si = [&](const char* opcio, auto& desti, const auto& valor) {
    if (app.count(opcio) > 0) desti = valor;
  };
  Si("--seed", config.llavor, linia.llavor);
  Si("--time", config.durada, linia.durada);
  Si("--realtime", config.temps_real, linia.temps_real);
  Si("--games", config.jocs, linia.jocs);
  Si("--first-game", config.primer_joc, linia.primer_joc);
  Si("--answer-time", config.espera_ms, static_cast<int>(std::lround(espera * 1000)));
  Si("--mem-limit", config.limits.memoria_mib, linia.limits.memoria_mib);
  Si("--proc-limit", config.limits.processos, linia.limits.processos);
  Si("--file-limit", config.max_fitxer_mib, linia.max_fitxer_mib);
  if (sense_caixa) config.aillat = false;
  if (!robots.empty()) {
    config.robots.clear();
    config.noms.clear();
    for (const auto& r : robots) config.robots.push_back(CamiRobot(r, DirArena()));
  }
  if (config.robots.empty()) return Error("ROBOT is required (or a match file with robots)", 2);
  // Every robot is checked before anything is started or written.
  for (const auto& cami : config.robots) {
    if (cami == kDiana) continue;
    const std::string per_que = NoEngegable(OrdreRobot(cami));
    if (!per_que.empty()) return Error("cannot start robot '" + cami + "': " + per_que, 2);
  }
  std::signal(SIGPIPE, SIG_IGN);

  if (es_torneig) {
    if (mkdir("out", 0755) != 0 && errno != EEXIST) {
      return Error("out: " + std::string(std::strerror(errno)), 2);
    }
    config.dir_err = "out";
    t.parells = !sense_parells;
    t.fils = fils;
    t.sprt = test;
    t.arena = argv[0];
    t.partida = partida;
    t.resultats = !resultats.empty() ? resultats
                                     : "out/tournament-" + std::to_string(t.primera) + "-" +
                                           std::to_string(t.darrera) + ".jsonl";
    if (const std::string per_que = NoEscrivible(t.resultats); !per_que.empty()) {
      return Error("cannot write " + per_que, 2);
    }
    InstallaAturada();
    const auto inici = std::chrono::steady_clock::now();
    const std::vector<json> registres = JugaTorneig(config, t, std::cerr);
    const double segons =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - inici).count();
    std::cout << TaulaResultats(registres, test);
    std::cerr << registres.size() << " games in " << segons << " s ("
              << static_cast<double>(registres.size()) / segons << " games/s); results in "
              << t.resultats << "\n";
    for (const auto& r : registres) {
      for (const auto& f : r.at("files")) std::cerr << "kept: " << f.get<std::string>() << "\n";
    }
    if (interrupcio) {
      std::cout << "Interrupted: the table counts the " << registres.size()
                << " games that were finished\n";
      return 128 + interrupcio;
    }
    return 0;
  }
  if (transcripcio.empty()) {
    if (mkdir("out", 0755) != 0 && errno != EEXIST)
      return Error("out: " + std::string(std::strerror(errno)), 2);
    transcripcio = "out/match-" + std::to_string(config.llavor) + ".txt";
  }
  // The replay page and the picture go beside the transcript, one of each per game.
  const std::string base = transcripcio.substr(0, transcripcio.rfind('.'));
  auto Base = [&](int joc) { return config.jocs > 1 ? base + ".g" + std::to_string(joc) : base; };
  for (const std::string& cami : {transcripcio, base + ".html", Base(config.primer_joc) + ".svg"}) {
    const std::string per_que = NoEscrivible(cami);
    if (!per_que.empty()) return Error("cannot write " + per_que, 2);
  }
  const size_t barra = transcripcio.find_last_of('/');
  config.dir_err = barra == std::string::npos ? "." : transcripcio.substr(0, barra);

  InstallaAturada();
  const std::vector<t_resultat> jocs = JugaSerie(config);
  std::cout << (config.jocs > 1 ? ResumSerie(config, jocs) : Resum(config, jocs.front()));
  // In a series each game has its own section of the transcript.
  std::string text;
  size_t linies = 0;
  for (const auto& r : jocs) {
    if (config.jocs > 1) text += "# game " + std::to_string(r.joc) + "\n";
    for (const auto& l : r.transcripcio) text += l + '\n';
    linies += r.transcripcio.size();
  }
  int codi = interrupcio ? 128 + interrupcio : 0;
  auto Desa = [&](const char* que, const std::string& cami, const std::string& contingut,
                  const std::string& nota) {
    if (!Escriu(cami, contingut)) {
      std::cerr << "arena: cannot write " << cami << ": " << std::strerror(errno) << "\n";
      if (codi == 0) codi = 1;
      return;
    }
    std::cout << que << ": " << cami << nota << "\n";
  };
  Desa("Transcript", transcripcio, text, " (" + std::to_string(linies) + " lines)");
  // One replay page for the whole series; a picture per game.
  Desa("Replay", base + ".html", PaginaRepeticio(config, jocs), "");
  for (const auto& r : jocs) Desa("Picture", Base(r.joc) + ".svg", ImatgeSvg(config, r), "");
  return codi;
}
