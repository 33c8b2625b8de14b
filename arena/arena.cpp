// The practice arena: plays a seeded match, or a tournament of them, between robot programs,
// the built-in opponents and the sitting target; writes the transcript and prints a summary.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "arena/ordres.h"
#include "arena/partida.h"
#include "arena/registre.h"
#include "arena/repeticio.h"
#include "arena/resum.h"
#include "arena/servei.h"
#include "arena/sortida.h"
#include "arena/taula.h"
#include "arena/torneig.h"

namespace arena {
namespace {

// The built-in robots' programs are installed beside the arena.
std::string DirArena() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string cami = n > 0 ? std::string(exe, static_cast<size_t>(n)) : "./arena";
  return cami.substr(0, cami.find_last_of('/'));
}

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

// A tally: the table of results files; exit 2 if they are not one tournament.
int Recompte(const t_ordres& o) {
  std::vector<json> registres;
  std::string error;
  if (!LlegeixResultats(o.recompte, registres, error)) return Error(error, 2);
  if (o.sprt && !registres.empty() && registres.front().at("robots").size() != 2) {
    return Error("--sprt: the test needs a tournament of two robots", 2);
  }
  std::cout << TaulaResultats(registres, o.sprt);
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

// The tournament the command line asks for, its results file opened and locked; false, with
// `error`, if it cannot be played.
bool PreparaTorneig(const t_ordres& o, const t_config& config, const char* arena, t_torneig& t,
                    std::string& error) {
  if (o.sprt && config.robots.size() != 2) {
    error =
        "--sprt: the test compares two robots; " + std::to_string(config.robots.size()) + " given";
    return false;
  }
  t.primera = o.llavors.primera;
  t.darrera = o.llavors.darrera;
  t.guarda_caigudes = o.guarda_caigudes;
  t.guarda_derrotes = o.guarda_derrotes;
  t.guarda_tots = o.guarda_tots;
  t.parells = !o.sense_parells;
  t.fils = o.fils;
  t.sprt = o.sprt;
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
    error = "out: " + std::string(std::strerror(errno));
    return false;
  }
  if (const std::string per_que = NoEscrivible(t.resultats); !per_que.empty()) {
    error = "cannot write " + per_que;
    return false;
  }
  return ObreResultats(t, config, o.reprendre, o.sobreescriu, error);
}

// On standard error, after the table: how many games, how fast, where, and what was kept.
void Informa(const t_torneig& t, const std::vector<json>& registres, double segons) {
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
}

// A tournament: played, its table printed, however it ended; shown live by `servei`, if any.
int Torneig(const t_ordres& o, t_config config, const char* arena, t_servei* servei) {
  t_torneig t;
  std::string error;
  if (!PreparaTorneig(o, config, arena, t, error)) return Error(error, 2);
  if (servei) {
    ObservaTorneig(*servei, t);
    config.observador = ObservadorPartida(*servei);
  }
  const auto inici = std::chrono::steady_clock::now();
  const std::vector<json> registres = JugaTorneig(config, t, std::cerr, &error);
  const double segons =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - inici).count();
  std::cout << TaulaResultats(registres, o.sprt);
  Informa(t, registres, segons);
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

// The picture of game `joc`, beside the transcript: one per game of a series.
std::string Imatge(const t_config& config, int joc) {
  return config.base_err + (config.jocs > 1 ? ".g" + std::to_string(joc) : "") + ".svg";
}

// Where a match's files go: its transcript, out/match-SEED.txt unless it is named, and beside
// it the replay page and the pictures; false, with `error`, if one of them cannot be written.
bool PreparaPartida(const t_ordres& o, t_config& config, std::string& error) {
  std::string transcripcio = o.transcripcio;
  error = MalTranscripcio(transcripcio);
  if (!error.empty()) return false;
  if (transcripcio.empty()) {
    if (mkdir("out", 0755) != 0 && errno != EEXIST) {
      error = "out: " + std::string(std::strerror(errno));
      return false;
    }
    transcripcio = "out/match-" + std::to_string(config.llavor) + ".txt";
  }
  config.base_err = SenseExtensio(transcripcio);
  for (const std::string& cami :
       {transcripcio, config.base_err + ".html", Imatge(config, config.primer_joc)}) {
    const std::string per_que = NoEscrivible(cami);
    if (!per_que.empty()) {
      error = "cannot write " + per_que;
      return false;
    }
  }
  config.transcripcio = transcripcio;
  return true;
}

// A match or a series: played, its summary printed, its replay page and pictures written; shown
// live by `servei`, if any.
int Partida(const t_ordres& o, t_config config, t_servei* servei) {
  if (std::string error; !PreparaPartida(o, config, error)) return Error(error, 2);
  if (servei) config.observador = ObservadorPartida(*servei);
  // The transcript is written as the match goes, a section per game of a series.
  const std::vector<t_resultat> jocs = JugaSerie(config);
  std::cout << (config.jocs > 1 ? ResumSerie(config, jocs) : Resum(config, jocs.front()));
  int codi = interrupcio ? 128 + interrupcio : 0;
  const auto Falla = [&](const std::string& que) {
    std::cerr << "arena: " << que << "\n";
    if (codi == 0) codi = 1;
  };
  if (!jocs.front().error_arena.empty()) Falla(jocs.front().error_arena);
  if (!jocs.front().error_transcripcio.empty()) {
    Falla("cannot write " + config.transcripcio + ": " + jocs.front().error_transcripcio);
  } else {
    size_t linies = 0;
    for (const auto& r : jocs) linies += r.linies_transcripcio;
    std::cout << "Transcript: " << config.transcripcio << " (" << linies << " lines)\n";
  }
  // One replay page for the whole series; a picture per game.
  const auto Escriu = [&](const char* que, const std::string& cami, const std::string& text) {
    const std::string per_que = Desa(cami, text);
    if (!per_que.empty()) return Falla("cannot write " + per_que);
    std::cout << que << ": " << cami << "\n";
  };
  Escriu("Replay", config.base_err + ".html", PaginaRepeticio(config, jocs));
  for (const auto& r : jocs) Escriu("Picture", Imatge(config, r.joc), ImatgeSvg(config, r));
  return codi;
}

// The match or tournament, served live by `servei` if it is given. After the last game the
// results are served until a signal (unless --serve-exit); the exit status stays the arena's.
int Juga(const t_ordres& o, const t_config& config, const char* arena, t_servei* servei) {
  const int codi =
      o.mode == t_mode::TORNEIG ? Torneig(o, config, arena, servei) : Partida(o, config, servei);
  if (!servei) return codi;
  // The results are out before the server waits for its viewers, which may take seconds.
  std::cout.flush();
  AcabaServei(*servei);
  if (!o.servei_surt && !interrupcio) {
    std::cerr << "serving " << AdrecaServei(*servei) << " until Ctrl-C\n";
    EsperaSenyal();
  }
  TancaServei(servei);
  return codi;
}

}  // namespace

int Arena(int argc, char** argv) {
  t_ordres o;
  if (const auto codi = LlegeixOrdres(argc, argv, o)) return *codi;
  if (o.mode == t_mode::RECOMPTE) return Recompte(o);
  // The address comes first on standard output, before anything a match file makes said.
  t_servei* servei = nullptr;
  if (o.servei) {
    std::string error;
    servei = ObreServei(*o.servei, o.mode == t_mode::TORNEIG, error);
    if (!servei) return Error(error, 2);
    std::cout << AdrecaServei(*servei) << std::endl;
  }
  t_config config;
  if (std::string error; !Configura(o, DirArena(), std::cout, config, error)) {
    if (servei) TancaServei(servei);
    return Error(error, 2);
  }
  std::signal(SIGPIPE, SIG_IGN);
  if (interrupcio) {
    if (servei) TancaServei(servei);
    return 128 + interrupcio;
  }
  return Juga(o, config, argv[0], servei);
}

}  // namespace arena

int main(int argc, char** argv) {
  using namespace arena;
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
