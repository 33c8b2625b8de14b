// The arena's own speed: its cost per tick driving the floor program and the robot, and how well
// a tournament uses the cores (-j N against one match after another), with matches per second.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <thread>

#include "arena/arguments.h"
#include "arena/torneig.h"

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

double Torneig(const t_config& c, uint64_t seeds, int fils, size_t& jocs) {
  t_torneig t;
  t.primera = 1;
  t.darrera = seeds;
  t.fils = fils;
  t.resultats = "/dev/null";
  std::ostringstream progres;
  const auto t0 = Rellotge::now();
  jocs = JugaTorneig(c, t, progres).size();
  return std::chrono::duration<double>(Rellotge::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  bool rapid = false;
  CLI::App app{"Measures the arena: cost per tick against the floor, and tournament scaling.",
               "banc_arena"};
  app.add_flag("--quick", rapid, "short runs: figures for a smoke run only");
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  const double segons = rapid ? 10 : 120;
  std::printf("| %-34s | %8s | %10s | %10s |\n", "one match, two robots", "ticks", "wall us/tick",
              "arena CPU us/tick");
  CostPerTick("floor against floor", SOL_BIN, SOL_BIN, segons);
  CostPerTick("tavik against tavik", TAVIK_BIN, TAVIK_BIN, segons);
  CostPerTick("tavik against cacador", TAVIK_BIN, CACADOR_BIN, segons);

  t_config c;
  c.durada = rapid ? 10 : 30;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  const uint64_t seeds = rapid ? 4 : 20;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int rondes = rapid ? 1 : 5;
  // Alternating, so that a slow spell of the machine falls on both; medians.
  std::vector<double> t1s, tns;
  size_t jocs = 0;
  for (int r = 0; r < rondes; ++r) {
    t1s.push_back(Torneig(c, seeds, 1, jocs));
    tns.push_back(Torneig(c, seeds, cores, jocs));
  }
  std::sort(t1s.begin(), t1s.end());
  std::sort(tns.begin(), tns.end());
  const double t1 = t1s[t1s.size() / 2], tn = tns[tns.size() / 2];
  std::printf(
      "tournament: %llu seeds in pairs (%zu games of %g s), tavik against cacador, "
      "median of %d rounds\n",
      static_cast<unsigned long long>(seeds), jocs, c.durada, rondes);
  std::printf("| %-34s | %10.2f s | %8.2f games/s |\n", "-j 1", t1, jocs / t1);
  std::printf("| %-34s | %10.2f s | %8.2f games/s |\n", ("-j " + std::to_string(cores)).c_str(), tn,
              jocs / tn);
  std::printf("parallel efficiency on %d cores: %.0f%%\n", cores, 100 * t1 / (cores * tn));
  return 0;
}
