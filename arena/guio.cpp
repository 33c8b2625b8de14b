// Plays a script of arena messages against a robot and prints the exchange: "> " before each
// message sent, "< " before each command the robot wrote. A blank line in the script ends a
// batch, sent with one wake-up signal; lines starting with '#' are comments.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "arena/proces.h"

namespace {

void Mostra(t_fill& robot) {
  for (; !robot.linies.empty(); robot.linies.pop_front()) {
    std::cout << "< " << robot.linies.front() << '\n';
  }
  std::cout.flush();
}

// Sends one batch and shows what the robot answered once it has handled all of it.
bool Juga(t_fill& robot, std::string& lot) {
  if (lot.empty()) return true;
  const bool ok = EnviaLot(robot, lot) && EsperaRepos(robot);
  Mostra(robot);
  lot.clear();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: guio ROBOT SCRIPT\n";
    return 2;
  }
  std::ifstream guio(argv[2]);
  if (!guio) {
    std::cerr << "guio: cannot read " << argv[2] << '\n';
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  t_fill robot;
  if (!Engega(robot, argv[1])) {
    std::cerr << "guio: cannot start " << argv[1] << '\n';
    return 2;
  }
  bool ok = EsperaRepos(robot);
  Mostra(robot);

  std::string lot;
  for (std::string linia; ok && std::getline(guio, linia);) {
    if (!linia.empty() && linia[0] == '#') continue;
    if (linia.empty()) {
      ok = Juga(robot, lot);
      continue;
    }
    std::cout << "> " << linia << '\n';
    lot += linia + '\n';
  }
  if (ok) ok = Juga(robot, lot);

  // A robot that was told to exit gets a few seconds; any other is stopped.
  if (!EsperaFi(robot, 3000)) {
    std::cout << "robot still running: stopped\n";
    Atura(robot, SIGTERM);
    return 1;
  }
  Mostra(robot);
  Atura(robot);
  const int codi = WIFEXITED(robot.estat) ? WEXITSTATUS(robot.estat) : 128 + WTERMSIG(robot.estat);
  std::cout << "robot exited with status " << codi << '\n';
  return ok && codi == 0 ? 0 : 1;
}
