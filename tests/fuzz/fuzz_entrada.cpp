// Fuzz target: arbitrary bytes go through the real line splitting and dispatch into the real
// handlers, in chunks the input itself chooses; every command must leave as one whole line and
// the order queue must stay sorted.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "actua/actua.h"
#include "tavik/tavik.h"
#include "tests/reinicia.h"

namespace {

void Comprova(const char* dades, size_t mida) {
  // One write, one line: a newline at the end and nowhere else.
  if (mida == 0 || dades[mida - 1] != '\n' || std::memchr(dades, '\n', mida - 1)) std::abort();
}

void ComprovaCua() {
  const t_ordre* anterior = nullptr;
  for (const auto& o : ordres) {
    // Non-decreasing; a NaN time may only stand behind everything that is a number.
    if (anterior && !(anterior->time <= o.time) && !(o.time != o.time)) std::abort();
    anterior = &o;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dades, size_t mida) {
  ReiniciaRobot(Comprova);
  if (mida == 0) return 0;
  // The first byte picks the delivery size, so lines are also cut at every possible place.
  const size_t tros = 1 + dades[0] % 64;
  const char* p = reinterpret_cast<const char*>(dades + 1);
  for (size_t resta = mida - 1; resta > 0;) {
    const size_t n = resta < tros ? resta : tros;
    RepEntrada(p, n);
    p += n;
    resta -= n;
  }
  TancaEntrada();
  ComprovaCua();
  return 0;
}
