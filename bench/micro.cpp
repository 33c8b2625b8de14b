// Micro-benchmarks of the hot path: one line's dispatch per message kind, the order queue's
// insertion, and the number formatting of the command writers.
#include <benchmark/benchmark.h>

#include <cstring>

#include "actua/actua.h"
#include "tavik/tavik.h"
#include "tests/reinicia.h"

namespace {

void Res(const char*, size_t) {}

void Prepara() {
  ReiniciaRobot(Res);
  for (int i = 0; i < NUM_OPTIONS; ++i) options[i] = 1;
  robot.energy = 50;
}

// One message line, dispatched in a loop; `mode` puts the robot where that line does its work.
void Despatx(benchmark::State& state, const char* linia, int mode) {
  Prepara();
  for (auto _ : state) {
    robot.mode = mode;
    robot.shots_left = 5;
    DespatxaLinia(linia);
    if (ordres.size() > 64) ordres.clear();
  }
}

BENCHMARK_CAPTURE(Despatx, Info, "Info 12.35 0.5 1.2345", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, RadarWall, "Radar 23.456 2 4.5678", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, RadarLockOn, "Radar 12.5 0 1.0", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, RadarCookie, "Radar 8.25 3 0.5", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, Energy, "Energy 87.5", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, Collision, "Collision 1 0.3", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, GameOption, "GameOption 3 0,5", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, Dead, "Dead", MODE_SCANNING);
BENCHMARK_CAPTURE(Despatx, Unknown, "Xyzzy 1 2", MODE_SCANNING);

void InsertaOrdre(benchmark::State& state) {
  Prepara();
  t_ordre o{0, ORDER_STOP, 1};
  for (auto _ : state) {
    // Three orders into a queue of a few, as a plan does.
    for (int i = 0; i < 3; ++i) {
      o.time = 10.0 + (i * 7) % 5;
      insertar_ordre(&o);
    }
    ordres.pop_front();
    ordres.pop_front();
    ordres.pop_front();
  }
}
BENCHMARK(InsertaOrdre);

void Format(benchmark::State& state) {
  std::string linia;
  const double valors[] = {0.10472, 1e6, -3.14159265, 12.5, 0, 1234567.0};
  size_t i = 0;
  for (auto _ : state) {
    linia.clear();
    AfegeixNombre(linia, valors[i++ % 6]);
    benchmark::DoNotOptimize(linia.data());
  }
}
BENCHMARK(Format);

}  // namespace
