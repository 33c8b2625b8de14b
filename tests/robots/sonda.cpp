// A probe robot for the arena's tests: records every line it receives in the file named by its
// first argument, and does a little of everything so that every message comes its way: it asks
// for RotationReached and Coordinates, names itself, asks for colours the field already wears,
// turns, drives (with a decimal comma), spins its radar, prints and draws, and sends one command
// the arena does not know in each game.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>

namespace {

int registre = -1;

void Escriu(int fd, const std::string& text) {
  for (size_t fet = 0; fet < text.size();) {
    const ssize_t n = write(fd, text.data() + fet, text.size() - fet);
    if (n <= 0) return;
    fet += static_cast<size_t>(n);
  }
}

// Answers one message; false once it is time to go.
bool Missatge(const std::string& linia) {
  Escriu(registre, linia + "\n");
  const std::string paraula = linia.substr(0, linia.find(' '));
  if (paraula == "Initialize") {
    Escriu(STDOUT_FILENO, "Name Sonda de proves\nColour 0xffffff 0xfefefe\n");
  } else if (paraula == "GameStarts") {
    Escriu(STDOUT_FILENO,
           "RotateAmount 1 0.785398 0.5\nRotate 4 2\nAccelerate 0,5\nBogus 1\n"
           "Print hello, world\nDebugCircle 10,5 15 2\n");
  }
  return paraula != "ExitRobot";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  registre = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (registre < 0) return 2;
  Escriu(STDOUT_FILENO, "RobotOption 1 1\nRobotOption 4 1\n");
  std::string pendent;
  char buf[4096];
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) continue;
    pendent.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pendent.find('\n')) != std::string::npos;) {
      const std::string linia = pendent.substr(0, nl);
      pendent.erase(0, nl + 1);
      if (!Missatge(linia)) return 0;
    }
  }
}
