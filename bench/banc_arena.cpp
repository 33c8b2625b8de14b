// The arena's own speed: its cost per tick against a lock-step floor, driving the floor program and
// the robot, and how well a tournament uses the cores (-j N against one match after another).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "arena/arguments.h"
#include "arena/partida.h"

extern char** environ;

using namespace arena;

namespace {

using Rellotge = std::chrono::steady_clock;

double CpuFil() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall and arena CPU (its own thread, the robots excluded) per tick of one match.
void CostPerTick(const char* que, const std::string& a, const std::string& b, double segons) {
  t_config c;
  c.llavor = 3;
  c.durada = segons;
  c.robots = {a, b};
  const double cpu0 = CpuFil();
  const auto t0 = Rellotge::now();
  const t_resultat r = JugaPartida(c);
  const double paret = std::chrono::duration<double>(Rellotge::now() - t0).count();
  const double cpu = CpuFil() - cpu0;
  std::printf("| %-34s | %8d | %10.1f | %10.1f |\n", que, r.ticks, paret / r.ticks * 1e6,
              cpu / r.ticks * 1e6);
}

double Segons(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct t_mesura {
  double paret = 0, cpu = 0;  // seconds; CPU of the program and every process it reaped
  double primer = 0;          // seconds from the start to the first tick, where primer says
};

// When the floor robot `primer` had its first tick, from what it wrote to its standard error
// (the file is removed); 0 without one.
double PrimerTick(const std::string& dir) {
  const std::string cami = dir + "/m.primer#1.err";
  std::FILE* f = std::fopen(cami.c_str(), "re");
  if (!f) return 0;
  long long ns = 0;
  if (std::fscanf(f, "%lld", &ns) != 1) ns = 0;
  std::fclose(f);
  unlink(cami.c_str());
  return static_cast<double>(ns) / 1e9;
}

// Runs a program to its end in the folder `dir`, its output and errors thrown away (a
// tournament's progress among them); one that fails stops the measurement.
t_mesura Executa(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t accions;
  posix_spawn_file_actions_init(&accions);
  posix_spawn_file_actions_addopen(&accions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&accions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&accions, dir.c_str());
  t_mesura m;
  const auto t0 = Rellotge::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &accions, nullptr, argv.data(), environ) != 0 || pid <= 0) {
    std::fprintf(stderr, "banc_arena: cannot run %s\n", argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&accions);
  int estat = 0;
  rusage us{};
  while (wait4(pid, &estat, 0, &us) < 0) {
  }
  m.paret = std::chrono::duration<double>(Rellotge::now() - t0).count();
  // The steady clock is the monotonic clock the robot reads.
  if (const double primer = PrimerTick(dir); primer > 0) {
    m.primer = primer - std::chrono::duration<double>(t0.time_since_epoch()).count();
  }
  m.cpu = Segons(us.ru_utime) + Segons(us.ru_stime);
  if (!WIFEXITED(estat) || WEXITSTATUS(estat) != 0) {
    std::fprintf(stderr, "banc_arena: %s ended with status %d\n", argv[0], estat);
    std::exit(1);
  }
  return m;
}

double Mediana(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A program run in rounds: its command line and what each run measured.
struct t_prova {
  std::string nom;
  std::vector<std::string> ordre;
  std::vector<t_mesura> mesures;
};

// Runs every program once a round, the order turned round by one each round, so that a slow
// spell of this shared machine falls on all of them alike.
void Intercala(std::vector<t_prova>& proves, int rondes, const std::string& dir) {
  for (int r = 0; r < rondes; ++r) {
    for (size_t k = 0; k < proves.size(); ++k) {
      t_prova& p = proves[(k + static_cast<size_t>(r)) % proves.size()];
      p.mesures.push_back(Executa(p.ordre, dir));
    }
  }
}

// The median over the rounds of a's measure divided by b's, of the same round.
double Rati(const t_prova& a, const t_prova& b, bool cpu) {
  std::vector<double> r;
  for (size_t i = 0; i < a.mesures.size(); ++i) {
    r.push_back(cpu ? a.mesures[i].cpu / b.mesures[i].cpu
                    : a.mesures[i].paret / b.mesures[i].paret);
  }
  return Mediana(r);
}

double Mediana(const t_prova& p, double t_mesura::*que) {
  std::vector<double> v;
  v.reserve(p.mesures.size());
  for (const auto& m : p.mesures) v.push_back(m.*que);
  return Mediana(v);
}

struct t_opcions {
  bool rapid = false;
  std::string arena = ARENA_BIN;
  std::string base;  // another arena measured beside it, or empty
  std::string dir;   // where the programs run and write their files
  std::vector<std::string> parts = {"tick", "startup", "process", "tournament", "sandbox"};
  bool Fa(const std::string& part) const {
    return std::find(parts.begin(), parts.end(), part) != parts.end();
  }
};

// The arena program as users run it (files written, robots in their sandboxes) against the
// floor parent, on one match of two floor robots.
void ContraElTerra(const t_opcions& o) {
  const double segons = o.rapid ? 30 : 300;
  const int rondes = o.rapid ? 1 : 5;
  const long ticks = std::lround(segons / 0.05);
  std::ostringstream durada;
  durada << segons;
  auto Arena = [&](const std::string& bin, bool caixa = true) {
    std::vector<std::string> ordre{bin, "--time", durada.str(), "--transcript", "m.txt"};
    if (!caixa) ordre.emplace_back("--no-sandbox");
    ordre.insert(ordre.end(), {SOL_BIN, SOL_BIN});
    return ordre;
  };
  // The same match without sandboxes tells what they cost a tick.
  std::vector<t_prova> proves = {{"floor that looks into /proc (sol_arena)",
                                  {SOL_ARENA_BIN, std::to_string(ticks), SOL_BIN, SOL_BIN},
                                  {}},
                                 {"arena sol sol: files written, sandboxes", Arena(o.arena), {}},
                                 {"arena sol sol --no-sandbox", Arena(o.arena, false), {}}};
  if (!o.base.empty()) proves.push_back({"base arena sol sol", Arena(o.base), {}});
  Intercala(proves, rondes, o.dir);
  const double us = 1e6 / static_cast<double>(ticks);
  std::printf(
      "per tick: a %g s match of two floor robots (%ld ticks), whole programs, median of %d "
      "interleaved rounds; CPU of the program and its robots\n",
      segons, ticks, rondes);
  std::printf("| %-40s | %8s | %8s | %12s | %12s |\n", "", "wall us", "CPU us", "wall / floor",
              "CPU / floor");
  for (const auto& p : proves) {
    std::printf("| %-40s | %8.1f | %8.1f | %12.2f | %12.2f |\n", p.nom.c_str(),
                Mediana(p, &t_mesura::paret) * us, Mediana(p, &t_mesura::cpu) * us,
                Rati(p, proves[0], false), Rati(p, proves[0], true));
  }
}

// A game's start-up, sandbox included: from the command to the first tick (`primer` notes it
// and exits, which ends the match), and the whole short run's wall and CPU.
void Arrencada(const t_opcions& o) {
  const int rondes = o.rapid ? 3 : 21;
  auto Ordre = [](const std::string& bin, bool caixa) {
    std::vector<std::string> ordre = {bin, "--time", "10", "--transcript", "m.txt"};
    if (!caixa) ordre.emplace_back("--no-sandbox");
    ordre.insert(ordre.end(), {PRIMER_BIN, SOL_BIN});
    return ordre;
  };
  std::vector<t_prova> proves = {{"arena", Ordre(o.arena, true), {}},
                                 {"arena --no-sandbox", Ordre(o.arena, false), {}}};
  if (!o.base.empty()) {
    proves.push_back({"base arena", Ordre(o.base, true), {}});
    proves.push_back({"base arena --no-sandbox", Ordre(o.base, false), {}});
  }
  Intercala(proves, rondes, o.dir);
  std::printf(
      "start-up: arena primer sol, from the command to the first tick; median of %d "
      "interleaved rounds\n",
      rondes);
  std::printf("| %-40s | %12s | %12s | %12s |\n", "", "to tick, ms", "whole, ms", "CPU, ms");
  for (const auto& p : proves) {
    std::printf("| %-40s | %12.2f | %12.2f | %12.2f |\n", p.nom.c_str(),
                1e3 * Mediana(p, &t_mesura::primer), 1e3 * Mediana(p, &t_mesura::paret),
                1e3 * Mediana(p, &t_mesura::cpu));
  }
}

// Games per second of a tournament of the arena program, one match at a time and one per core.
// With `sense_caixa`, the same without the sandbox too.
void Tornejos(const t_opcions& o, const std::vector<std::string>& robots, double segons, int seeds,
              bool sense_caixa, const char* titol) {
  const int rondes = o.rapid ? 1 : 5;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::ostringstream durada;
  durada << segons;
  std::vector<t_prova> proves;
  auto Afegeix = [&](const std::string& nom, const std::string& bin, int fils,
                     const std::vector<std::string>& mes) {
    std::vector<std::string> ordre = {
        bin,  "--tournament",       std::to_string(seeds), "--time",  durada.str(),
        "-j", std::to_string(fils), "--results",           "r.jsonl", "--overwrite"};
    ordre.insert(ordre.end(), mes.begin(), mes.end());
    ordre.insert(ordre.end(), robots.begin(), robots.end());
    proves.push_back({nom + " -j " + std::to_string(fils), ordre, {}});
  };
  for (int fils : {1, cores}) {
    Afegeix("arena", o.arena, fils, {});
    if (!o.base.empty()) Afegeix("base arena", o.base, fils, {});
  }
  if (sense_caixa) {
    for (int fils : {1, cores}) {
      Afegeix("arena --no-sandbox", o.arena, fils, {"--no-sandbox"});
      if (!o.base.empty()) Afegeix("base arena --no-sandbox", o.base, fils, {"--no-sandbox"});
    }
  }
  Intercala(proves, rondes, o.dir);
  const double jocs = 2.0 * seeds;
  std::printf("%s: %d seeds in pairs (%g games of %g s), median of %d interleaved rounds\n", titol,
              seeds, jocs, segons, rondes);
  std::printf("| %-40s | %8s | %8s | %14s | %12s |\n", "", "wall s", "games/s", "against first",
              "CPU ms/game");
  for (const auto& p : proves) {
    // Against the first program measured with as many matches at once.
    const std::string j = p.nom.substr(p.nom.rfind(" -j "));
    const t_prova& primer = *std::find_if(proves.begin(), proves.end(), [&](const t_prova& q) {
      return q.nom.substr(q.nom.rfind(" -j ")) == j;
    });
    std::printf("| %-40s | %8.2f | %8.2f | %14.2f | %12.2f |\n", p.nom.c_str(),
                Mediana(p, &t_mesura::paret), jocs / Mediana(p, &t_mesura::paret),
                1 / Rati(p, primer, false), 1e3 * Mediana(p, &t_mesura::cpu) / jocs);
  }
}

}  // namespace

int main(int argc, char** argv) {
  t_opcions o;
  CLI::App app{"Measures the arena: cost per tick against the floor, and tournament scaling.",
               "banc_arena"};
  app.add_flag("--quick", o.rapid, "short runs: figures for a smoke run only");
  app.add_option("--arena", o.arena, "the arena program to measure")->capture_default_str();
  app.add_option("--base", o.base, "another arena program, measured beside it in every round");
  app.add_option("--only", o.parts, "the parts to run: tick, startup, process, tournament, sandbox")
      ->delimiter(',')
      ->check(CLI::IsMember({"tick", "startup", "process", "tournament", "sandbox"}));
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  // The programs run in a folder of their own: a path given relative to here is made whole.
  for (std::string* cami : {&o.arena, &o.base}) {
    char real[PATH_MAX];
    if (!cami->empty() && realpath(cami->c_str(), real)) *cami = real;
  }
  char plantilla[] = "/tmp/banc_arena.XXXXXX";
  if (!mkdtemp(plantilla)) return 1;
  o.dir = plantilla;
  if (o.Fa("tick")) ContraElTerra(o);
  if (o.Fa("startup")) Arrencada(o);
  if (o.Fa("process")) {
    const double segons = o.rapid ? 10 : 120;
    std::printf("in process (JugaPartida, no files), the arena thread's own CPU\n");
    std::printf("| %-34s | %8s | %10s | %10s |\n", "one match, two robots", "ticks", "wall us/tick",
                "arena CPU us/tick");
    CostPerTick("floor against floor", SOL_BIN, SOL_BIN, segons);
    CostPerTick("tavik against tavik", TAVIK_BIN, TAVIK_BIN, segons);
    CostPerTick("tavik against cacador", TAVIK_BIN, CACADOR_BIN, segons);
  }
  const std::vector<std::string> robots = {TAVIK_BIN, "cacador"};
  if (o.Fa("tournament")) {
    Tornejos(o, robots, o.rapid ? 10 : 30, o.rapid ? 4 : 20, false,
             "tournament, tavik against cacador");
  }
  if (o.Fa("sandbox")) {
    Tornejos(o, robots, 5, o.rapid ? 10 : 50, true,
             "the sandbox's cost, tournament of short games");
  }
  std::filesystem::remove_all(o.dir);
  return 0;
}
