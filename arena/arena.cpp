// The practice arena: plays a seeded match, or a tournament of them, between robot executables,
// the built-in opponents and the sitting target; writes the transcript and prints a summary.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "arena/partida.h"
#include "arena/repeticio.h"

namespace {

int Us() {
  std::cerr
      << "usage: arena [--seed N] [--time SECONDS] [--transcript FILE] [--realtime]\n"
         "             [--tournament MATCHES] ROBOT...\n"
         "  ROBOT (one to eight) is an executable that speaks the arena's line protocol, or a\n"
         "  built-in one: 'diana' sits still, 'rodamon' drives around, 'cacador' drives, scans\n"
         "  and shoots back. Defaults: seed 1, 60 s of game time, transcript out/match-SEED.txt.\n"
         "  --realtime plays a tick every 50 ms of wall-clock time instead of in lock-step.\n"
         "  --tournament plays MATCHES matches from the seed on and prints a table per robot.\n";
  return 2;
}

// The built-in opponents are programs installed beside the arena.
std::string Cami(const std::string& robot) {
  if (robot != "rodamon" && robot != "cacador") return robot;
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : "./arena";
  return dir.substr(0, dir.find_last_of('/') + 1) + robot;
}

}  // namespace

int main(int argc, char** argv) {
  t_config config;
  std::string transcripcio;
  int torneig = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--realtime") {
      config.temps_real = true;
    } else if ((a == "--seed" || a == "--time" || a == "--transcript" || a == "--tournament") &&
               i + 1 < argc) {
      const char* v = argv[++i];
      if (a == "--seed") config.llavor = std::strtoull(v, nullptr, 10);
      if (a == "--time") config.durada = std::atof(v);
      if (a == "--transcript") transcripcio = v;
      if (a == "--tournament") torneig = std::atoi(v);
    } else if (a.rfind("--", 0) == 0) {
      return Us();
    } else {
      config.robots.push_back(Cami(a));
    }
  }
  if (config.robots.empty() || config.robots.size() > 8 || !(config.durada > 0) || torneig < 0) {
    return Us();
  }
  std::signal(SIGPIPE, SIG_IGN);

  if (torneig > 0) {
    std::cout << TaulaTorneig(config, Torneig(config, torneig));
    return 0;
  }
  if (transcripcio.empty()) {
    mkdir("out", 0755);
    transcripcio = "out/match-" + std::to_string(config.llavor) + ".txt";
  }
  const t_resultat r = JugaPartida(config);
  std::ofstream f(transcripcio);
  for (const auto& linia : r.transcripcio) f << linia << '\n';
  // The replay page and the picture go beside the transcript.
  const std::string base = transcripcio.substr(0, transcripcio.rfind('.'));
  std::ofstream(base + ".html") << PaginaRepeticio(config, r);
  std::ofstream(base + ".svg") << ImatgeSvg(config, r);
  std::cout << Resum(config, r) << "Transcript: " << transcripcio << " (" << r.transcripcio.size()
            << " lines)\nReplay: " << base << ".html\nPicture: " << base << ".svg\n";
  return f ? 0 : 1;
}
