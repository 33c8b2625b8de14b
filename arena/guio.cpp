// Plays a script of arena messages against a robot and prints the exchange: "> " before each
// message sent, "< " before each command the robot wrote. A blank line in the script ends a
// batch, sent with one wake-up signal if the robot asked for them; '#' starts a comment.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "arena/arguments.h"
#include "arena/proces.h"
#include "arena/protocol.h"

namespace arena {
namespace {

// Robot option 0 asks for a SIGUSR1 after each batch; a robot that never asks is not signalled,
// as the arena does (it would stay pending in a robot that keeps it blocked).
bool senyals = false;

void Mostra(t_fill& robot) {
  for (; !robot.linies.empty(); robot.linies.pop_front()) {
    const std::string& l = robot.linies.front();
    const t_lectura lectura = LlegeixComanda(l);
    const auto* opcio = lectura.comanda ? std::get_if<t_opcio_robot>(&*lectura.comanda) : nullptr;
    if (opcio && opcio->opcio == 0) senyals = opcio->valor != 0;
    std::cout << "< " << l << '\n';
  }
  std::cout.flush();
}

// Sends one batch and shows what the robot answered once it has handled all of it.
bool Juga(t_fill& robot, std::string& lot) {
  if (lot.empty()) return true;
  const bool ok = EnviaLot(robot, lot, 10000, senyals) && EsperaRepos(robot);
  if (!ok && robot.ocupat.feina != t_feina::CAP)
    std::cerr << "guio: no answer in time: " << Descriu(robot.ocupat) << '\n';
  Mostra(robot);
  lot.clear();
  return ok;
}

}  // namespace
}  // namespace arena

int main(int argc, char** argv) {
  using namespace arena;
  std::string robot_text, guio_cami;
  CLI::App app{
      "Plays a script of arena messages against ROBOT and prints the exchange.\n"
      "In the script a blank line ends a batch and '#' starts a comment.",
      "guio"};
  app.add_option("ROBOT", robot_text, "the robot: a program, or a command with its arguments")
      ->required();
  app.add_option("SCRIPT", guio_cami, "the script of messages")
      ->required()
      ->check(CLI::ExistingFile);
  if (const auto codi = LlegeixArguments(app, argc, argv)) return *codi;
  std::ifstream guio(guio_cami);
  if (!guio) {
    std::cerr << "guio: cannot read " << guio_cami << '\n';
    return 2;
  }
  const std::vector<std::string> ordre = OrdreRobot(robot_text);
  if (const std::string per_que = NoEngegable(ordre); !per_que.empty()) {
    std::cerr << "guio: cannot start " << robot_text << ": " << per_que << '\n';
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  t_fill robot;
  t_engegada engegada;
  engegada.ordre = ordre;
  if (!Engega(robot, engegada)) {
    std::cerr << "guio: cannot start " << robot_text << ": " << Descriu(robot.error) << '\n';
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
  std::cout << "robot " << ComAcaba(robot.estat) << '\n';
  return ok && WIFEXITED(robot.estat) && WEXITSTATUS(robot.estat) == 0 ? 0 : 1;
}
