// Benchmark driver: runs the robot and the floor (the same I/O contract with nothing behind it)
// side by side, alternating, over the arena process layer, and prints medians and ratios of
// CPU per line, throughput, wake-up latency, idle CPU and peak memory.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "actua/actua.h"
#include "arena/arguments.h"
#include "arena/fisica.h"
#include "arena/proces.h"
#include "tavik/tavik.h"

using namespace arena;

namespace {

using Rellotge = std::chrono::steady_clock;

struct t_programa {
  const char* nom;
  const char* cami;
};

// CPU time on record for a live process, from /proc (nanosecond accounting).
double Cpu(pid_t pid) {
  unsigned long long ns = 0;
  std::ifstream("/proc/" + std::to_string(pid) + "/schedstat") >> ns;
  return static_cast<double>(ns) / 1e9;
}

long VmHwmKiB(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string l; std::getline(f, l);) {
    if (l.rfind("VmHWM:", 0) == 0) return std::stol(l.substr(6));
  }
  return -1;
}

double Mediana(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? NAN : v[v.size() / 2];
}

// A realistic game: per tick one Info, two to four Radar of mixed types, now and then Energy.
std::vector<std::string> Joc(size_t linies) {
  std::vector<std::string> ticks;
  t_atzar atzar{3};
  std::string inici =
      "Initialize 1\nGameOption 0 0.785398\nGameOption 1 1.5708\nGameOption 2 2.0944\n"
      "GameOption 3 1\nGameOption 9 0.5\nGameOption 10 5\nGameStarts\nEnergy 100\n";
  size_t n = 9;
  ticks.push_back(inici);
  const int tipus[] = {0, 1, 2, 2, 2, 3, 4, 5, 10};
  char l[128];
  for (int t = 1; n < linies; ++t) {
    std::string lot;
    std::snprintf(l, sizeof l, "Info %.2f %.3f %.4f\n", t * 0.05, atzar.Uniforme(0, 2),
                  atzar.Uniforme(0, 6.3));
    lot += l;
    ++n;
    for (int r = 2 + static_cast<int>(atzar.Seguent() % 3); r > 0 && n < linies; --r, ++n) {
      std::snprintf(l, sizeof l, "Radar %.3f %d %.4f\n", atzar.Uniforme(1, 40),
                    tipus[atzar.Seguent() % 9], atzar.Uniforme(0, 6.3));
      lot += l;
    }
    if (t % 10 == 0 && n < linies) {
      std::snprintf(l, sizeof l, "Energy %.1f\n", atzar.Uniforme(1, 100));
      lot += l;
      ++n;
    }
    ticks.push_back(lot);
  }
  return ticks;
}

// How many lines the robot writes for `text`: the same lines through the same code, in process.
size_t LiniesTavik(const std::string& text) {
  static size_t comptador;
  comptador = 0;
  escriptor = [](const char*, size_t) { ++comptador; };
  RepEntrada(text.data(), text.size());
  TancaEntrada();
  return comptador;
}

size_t Linies(const std::vector<std::string>& lots) {
  size_t n = 0;
  for (const auto& l : lots) n += static_cast<size_t>(std::count(l.begin(), l.end(), '\n'));
  return n;
}

struct t_execucio {
  double cpu = 0;    // s, user + sys from the child's rusage
  double paret = 0;  // s, first line sent to last answer read
  long hwm_kib = 0;
  bool ok = false;
};

// Waits for `falten` more answer lines, counting and dropping them.
bool Compta(t_fill& f, size_t& falten, int ms) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Drena(f);
    const size_t n = std::min(falten, f.linies.size());
    falten -= n;
    f.linies.clear();
    if (falten == 0) return true;
    if (f.sortida < 0 || Rellotge::now() > limit) return false;
    pollfd p{f.sortida, POLLIN, 0};
    poll(&p, 1, 100);
  }
}

bool Arrenca(t_fill& f, const t_programa& p) {
  if (!Engega(f, p.cami)) return false;
  size_t falten = 4;
  return Compta(f, falten, 10000);
}

t_execucio Tanca(t_fill& f, t_execucio e) {
  e.hwm_kib = VmHwmKiB(f.pid);
  EnviaLot(f, "ExitRobot\n");
  e.ok = e.ok && EsperaFi(f, 10000) && WIFEXITED(f.estat);
  Atura(f);
  e.cpu = f.us.ru_utime.tv_sec + f.us.ru_utime.tv_usec / 1e6 + f.us.ru_stime.tv_sec +
          f.us.ru_stime.tv_usec / 1e6;
  return e;
}

// Sends the batches, a signal after each; in lock-step each batch is handled before the next.
t_execucio Corrent(const t_programa& p, const std::vector<std::string>& lots, size_t esperades,
                   bool lockstep) {
  t_fill f;
  t_execucio e;
  if (!Arrenca(f, p)) return e;
  const auto t0 = Rellotge::now();
  size_t falten = esperades;
  for (const auto& lot : lots) {
    Escriu(f, lot);
    Senyala(f);
    if (lockstep) EsperaRepos(f);
    const size_t n = std::min(falten, f.linies.size());
    falten -= n;
    f.linies.clear();
  }
  e.ok = Compta(f, falten, 30000);
  e.paret = std::chrono::duration<double>(Rellotge::now() - t0).count();
  if (!e.ok) std::fprintf(stderr, "%s: %zu answer lines missing\n", p.nom, falten);
  return Tanca(f, e);
}

struct t_latencia {
  std::vector<double> us;
  double cpu_per_despertar = 0;
  bool ok = false;
};

t_latencia Latencia(const t_programa& p, int n) {
  t_fill f;
  t_latencia r;
  if (!Arrenca(f, p)) return r;
  const double c0 = Cpu(f.pid);
  std::string linia;
  r.ok = true;
  for (int i = 0; i < n && r.ok; ++i) {
    Escriu(f, "Dead\n");
    const auto t0 = Rellotge::now();
    Senyala(f);
    r.ok = LlegeixLinia(f, linia, 10000);
    r.us.push_back(std::chrono::duration<double, std::micro>(Rellotge::now() - t0).count());
    EsperaRepos(f);  // asleep again before the next signal
  }
  r.cpu_per_despertar = (Cpu(f.pid) - c0) / n;
  Tanca(f, {});
  std::sort(r.us.begin(), r.us.end());
  return r;
}

double Repos(const t_programa& p, double segons) {
  t_fill f;
  if (!Arrenca(f, p)) return NAN;
  EsperaRepos(f);
  const double c0 = Cpu(f.pid);
  poll(nullptr, 0, static_cast<int>(segons * 1000));
  const double c = Cpu(f.pid) - c0;
  Tanca(f, {});
  return c / segons;
}

}  // namespace

int main(int argc, char** argv) {
  bool rapid = false;
  CLI::App app{
      "Runs the robot and the floor program side by side and prints CPU per line,\n"
      "throughput, latency, idle CPU and peak memory with their ratios.",
      "banc"};
  app.add_flag("--quick", rapid, "one short round: figures for a smoke run only");
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  const int rondes = rapid ? 1 : 5;
  const size_t n_joc = rapid ? 20000 : 200000;
  const size_t n_massa = rapid ? 100000 : 1000000;
  const int n_lat = rapid ? 500 : 10000;
  std::signal(SIGPIPE, SIG_IGN);
  const t_programa programes[2] = {{"tavik", TAVIK_BIN}, {"floor", SOL_BIN}};

  const std::vector<std::string> joc = Joc(n_joc);
  std::string tot;
  for (const auto& l : joc) tot += l;
  const size_t linies_joc = Linies(joc);
  const size_t esperades_joc[2] = {LiniesTavik(tot), linies_joc};

  std::vector<std::string> massa;
  const char* bulk[] = {"Dead\n", "GameOption 15 1\n", "Xyzzy 1 2\n"};
  for (size_t i = 0; i < n_massa; i += 1000) {
    std::string lot;
    for (size_t j = 0; j < 1000; ++j) lot += bulk[(i + j) % 3];
    massa.push_back(lot);
  }

  std::vector<double> cpu_joc[2], lps_joc[2], cpu_massa[2], lps_massa[2], hwm[2];
  bool ok = true;
  for (int r = 0; r < rondes; ++r) {
    for (int k = 0; k < 2; ++k) {
      const t_execucio j = Corrent(programes[k], joc, esperades_joc[k], true);
      const t_execucio m = Corrent(programes[k], massa, n_massa, false);
      ok = ok && j.ok && m.ok;
      cpu_joc[k].push_back(j.cpu / linies_joc * 1e6);
      lps_joc[k].push_back(linies_joc / j.paret);
      cpu_massa[k].push_back(m.cpu / n_massa * 1e6);
      lps_massa[k].push_back(n_massa / m.paret);
      hwm[k].push_back(j.hwm_kib / 1024.0);
    }
  }
  t_latencia lat[2];
  double repos[2];
  for (int k = 0; k < 2; ++k) {
    lat[k] = Latencia(programes[k], n_lat);
    ok = ok && lat[k].ok;
    repos[k] = Repos(programes[k], rapid ? 0.5 : 10.0);
  }

  auto Fila = [](const char* que, double t, double s, const char* unitat) {
    std::printf("| %-44s | %12.4g | %12.4g | %6.2f | %s\n", que, t, s, t / s, unitat);
  };
  std::printf("rounds %d, game stream %zu lines (tavik writes %zu), bulk %zu lines, latency %d\n",
              rondes, linies_joc, esperades_joc[0], n_massa, n_lat);
  std::printf("| %-44s | %12s | %12s | %6s |\n", "median", "tavik", "floor", "ratio");
  Fila("game stream: CPU s per million lines", Mediana(cpu_joc[0]), Mediana(cpu_joc[1]), "");
  Fila("game stream: lines per second", Mediana(lps_joc[0]), Mediana(lps_joc[1]), "");
  Fila("bulk: CPU s per million lines", Mediana(cpu_massa[0]), Mediana(cpu_massa[1]), "");
  Fila("bulk: lines per second", Mediana(lps_massa[0]), Mediana(lps_massa[1]), "");
  for (double q : {0.5, 0.99, 1.0}) {
    char que[64];
    std::snprintf(que, sizeof que, "latency signal to answer, %s (us)",
                  q == 0.5    ? "p50"
                  : q == 0.99 ? "p99"
                              : "max");
    auto Q = [&](const t_latencia& l) {
      return l.us[std::min(l.us.size() - 1, static_cast<size_t>(q * l.us.size()))];
    };
    Fila(que, Q(lat[0]), Q(lat[1]), "");
  }
  Fila("CPU per wake-up (us)", lat[0].cpu_per_despertar * 1e6, lat[1].cpu_per_despertar * 1e6, "");
  Fila("idle: CPU ms per second", repos[0] * 1e3, repos[1] * 1e3, "");
  Fila("peak resident size after the game (MiB)", Mediana(hwm[0]), Mediana(hwm[1]), "");
  std::printf("answers verified: %s\n", ok ? "all" : "MISSING LINES");
  return ok ? 0 : 1;
}
