// Command writers: each formats its line completely first and hands it over in one write, so a
// line can never be split or mixed with another, even by the signal handler.
#include "actua/actua.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "tavik/tavik.h"

void (*escriptor)(const char*, size_t) = EscriuStdout;

void EscriuStdout(const char* dades, size_t mida) {
  while (mida > 0) {
    const ssize_t n = write(STDOUT_FILENO, dades, mida);
    if (n > 0) {
      dades += n;
      mida -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{STDOUT_FILENO, POLLOUT, 0};  // an arena that made our stdout non-blocking
      poll(&p, 1, -1);
    } else if (n < 0 && errno != EINTR) {
      return;  // the arena is gone: the line is lost, the robot goes on
    }
  }
}

void EscriuLinia(const std::string& linia) {
  escriptor(linia.data(), linia.size());
}

namespace {

// Commands whose arguments are all numbers are built on the stack: the longest, a DebugLine of
// four doubles of at most 13 characters each, needs well under 128 bytes, and no heap is
// touched on the way out.
constexpr size_t MAX_NUMERICA = 128;

// %g with precision 6 in the classic locale, which is what to_chars' general format gives.
char* Afegeix(char* p, double valor) {
  return std::to_chars(p, p + 32, valor, std::chars_format::general, 6).ptr;
}
char* Afegeix(char* p, int valor) {
  return std::to_chars(p, p + 16, valor).ptr;
}

// The command word, then each argument after one blank, then the newline.
template <class... Args>
void Envia(const char* paraula, Args... args) {
  char linia[MAX_NUMERICA];
  const size_t mida = std::strlen(paraula);
  // The line is sent by its length: it needs no terminating NUL.
  std::memcpy(linia, paraula, mida);  // NOLINT(bugprone-not-null-terminated-result)
  char* p = linia + mida;
  ((*p++ = ' ', p = Afegeix(p, args)), ...);
  *p++ = '\n';
  escriptor(linia, static_cast<size_t>(p - linia));
}

// Commands that carry texts: the texts may be of any length.
void EnviaText(const char* paraula, const std::string& text, const std::string* segon = nullptr) {
  std::string linia(paraula);
  linia += ' ';
  linia += text;
  if (segon) {
    linia += ' ';
    linia += *segon;
  }
  linia += '\n';
  EscriuLinia(linia);
}

}  // namespace

void AfegeixNombre(std::string& linia, double valor) {
  char buf[32];
  linia.append(buf, Afegeix(buf, valor));
}

void DoPrint(std::string text) {
  EnviaText("Print", text);
}
void DoName(std::string name) {
  EnviaText("Name", name);
}
void DoColour(std::string first, std::string second) {
  EnviaText("Colour", first, &second);
}
void DoOption(int option, int value) {
  Envia("RobotOption", option, value);
}
void DoRotate(int part, double speed) {
  Envia("Rotate", part, speed);
}
void DoRotateTo(int part, double first, double second) {
  Envia("RotateTo", part, first, second);
}
void DoRotateAmount(int part, double speed, double angle) {
  Envia("RotateAmount", part, speed, angle);
}
void DoSweep(int part, double speed, double first, double second) {
  Envia("Sweep", part, speed, first, second);
}
void DoAccelerate(double value) {
  Envia("Accelerate", value);
}
void DoBrake(double value) {
  Envia("Brake", value);
}
void DoShoot(double energy) {
  if (robot.energy > 3.0) Envia("Shoot", energy);
}
void DoDebug(std::string text) {
  EnviaText("Debug", text);
}
void DoDebugLine(double x1, double y1, double x2, double y2) {
  Envia("DebugLine", x1, y1, x2, y2);
}
void DoDebugCircle(double x, double y, double r) {
  Envia("DebugCircle", x, y, r);
}
