// The practice arena: plays one seeded match between robot executables (or the built-in sitting
// target), writes the transcript and prints a summary.
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "arena/partida.h"

namespace {

int Us() {
  std::cerr << "usage: arena [--seed N] [--time SECONDS] [--transcript FILE] ROBOT...\n"
               "  ROBOT is an executable that speaks the arena's line protocol, or 'diana' for\n"
               "  the built-in sitting target. Defaults: seed 1, 60 s of game time, transcript\n"
               "  out/match-SEED.txt.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  t_config config;
  std::string transcripcio;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--seed" || a == "--time" || a == "--transcript") && i + 1 < argc) {
      const char* v = argv[++i];
      if (a == "--seed") config.llavor = std::strtoull(v, nullptr, 10);
      if (a == "--time") config.durada = std::atof(v);
      if (a == "--transcript") transcripcio = v;
    } else if (a.rfind("--", 0) == 0) {
      return Us();
    } else {
      config.robots.push_back(a);
    }
  }
  if (config.robots.empty() || !(config.durada > 0)) return Us();
  if (transcripcio.empty()) {
    mkdir("out", 0755);
    transcripcio = "out/match-" + std::to_string(config.llavor) + ".txt";
  }
  std::signal(SIGPIPE, SIG_IGN);

  const t_resultat r = JugaPartida(config);
  std::ofstream f(transcripcio);
  for (const auto& linia : r.transcripcio) f << linia << '\n';
  std::cout << Resum(config, r) << "Transcript: " << transcripcio << " (" << r.transcripcio.size()
            << " lines)\n";
  return f ? 0 : 1;
}
