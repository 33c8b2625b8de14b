// Puts the whole robot back as a fresh process has it, for harnesses that drive its handlers
// again and again in one process: tests, the fuzz target, the micro-benchmarks.
#pragma once

#include <cstring>

#include "actua/actua.h"
#include "tavik/tavik.h"

// Zeroes robot, options and queue, forgets any unfinished input line and the remembered radar
// type, and sends the writers' lines to `sortida`.
inline void ReiniciaRobot(void (*sortida)(const char*, size_t)) {
  escriptor = sortida;
  std::memset(static_cast<void*>(&robot), 0, sizeof robot);
  std::memset(options, 0, sizeof options);
  ordres.clear();
  ReiniciaEntrada();
  DespatxaLinia("Radar 0 0 0");  // idle, no budget: only sets the remembered type to 0
}
