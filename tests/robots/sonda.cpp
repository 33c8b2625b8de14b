// A probe robot for the arena's tests: records every line it receives in the file named by its
// first argument, and does a little of everything so that every message comes its way: it asks
// for RotationReached and Coordinates, names itself, asks for colours the field already wears,
// turns, drives (with a decimal comma), spins its radar, prints and draws, and sends one command
// the arena does not know in each game. Its second and third arguments, if given, are the name it
// asks for and the text it prints, "\xNN" written as that byte.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>

namespace {

int registre = -1;
std::string nom = "Sonda de proves", imprimeix = "hello, world";

// "\xNN" as the byte NN, so that a test can give any byte on a command line.
std::string Bytes(const std::string& s) {
  std::string o;
  for (size_t k = 0; k < s.size(); ++k) {
    if (s.compare(k, 2, "\\x") == 0 && k + 4 <= s.size()) {
      o += static_cast<char>(std::stoi(s.substr(k + 2, 2), nullptr, 16));
      k += 3;
    } else {
      o += s[k];
    }
  }
  return o;
}

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
    Escriu(STDOUT_FILENO, "Name " + nom + "\nColour 0xffffff 0xfefefe\n");
  } else if (paraula == "GameStarts") {
    Escriu(STDOUT_FILENO,
           "RotateAmount 1 0.785398 0.5\nRotate 4 2\nAccelerate 0,5\nBogus 1\n"
           "Print " +
               imprimeix + "\nDebugCircle 10,5 15 2\n");
  }
  return paraula != "ExitRobot";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (argc > 2) nom = Bytes(argv[2]);
  if (argc > 3) imprimeix = Bytes(argv[3]);
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
