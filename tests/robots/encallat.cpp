// A robot that waits in a system call other than its sleep: its main thread blocks in read(2) on
// a pipe of its own that nobody writes, while its SIGUSR1 handler reads its input and answers
// each Info with the game time it carries ("Print 1.25").
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

char pendent[65536];
size_t ple = 0;

void Escriu(const char* s, size_t n) {
  while (n > 0) {
    const ssize_t w = write(STDOUT_FILENO, s, n);
    if (w <= 0) return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}

void Respon(const char* linia, size_t n) {
  if (n > 5 && std::memcmp(linia, "Info ", 5) == 0) {
    const char* fi = static_cast<const char*>(std::memchr(linia + 5, ' ', n - 5));
    char resposta[64] = "Print ";
    const size_t mida = std::min<size_t>((fi ? fi : linia + n) - (linia + 5), 40);
    std::memcpy(resposta + 6, linia + 5, mida);
    resposta[6 + mida] = '\n';
    Escriu(resposta, 7 + mida);
  } else if (n == 9 && std::memcmp(linia, "ExitRobot", 9) == 0) {
    _exit(0);
  }
}

void Llegeix(int) {
  const int desat = errno;
  for (ssize_t r; (r = read(STDIN_FILENO, pendent + ple, sizeof pendent - ple)) > 0;) {
    ple += static_cast<size_t>(r);
    size_t inici = 0;
    for (const char* nl; (nl = static_cast<const char*>(
                              std::memchr(pendent + inici, '\n', ple - inici))) != nullptr;) {
      Respon(pendent + inici, static_cast<size_t>(nl - (pendent + inici)));
      inici = static_cast<size_t>(nl - pendent) + 1;
    }
    std::memmove(pendent, pendent + inici, ple - inici);
    ple -= inici;
    if (ple == sizeof pendent) ple = 0;
  }
  errno = desat;
}

}  // namespace

int main() {
  int tub[2];
  if (pipe(tub) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = Llegeix;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, nullptr);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
  Escriu("RobotOption 0 1\n", 16);  // wake me with SIGUSR1
  char c;
  for (;;) {
    if (read(tub[0], &c, 1) < 0 && errno != EINTR) return 1;
  }
}
