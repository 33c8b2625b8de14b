// Process layer of the arena: pipes, the wake-up signal, non-blocking reads of command lines, and
// a look into /proc to tell when a robot has handled everything it was sent.
#include "arena/proces.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

using Rellotge = std::chrono::steady_clock;

int Resta(Rellotge::time_point limit) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(limit - Rellotge::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

void Tanca(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void AfegeixFlag(int fd, int flag) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | flag);
}

// Cuts the bytes received into command lines.
void Talla(t_fill& fill) {
  size_t inici = 0;
  for (size_t nl; (nl = fill.rebut.find('\n', inici)) != std::string::npos; inici = nl + 1) {
    fill.linies.emplace_back(fill.rebut, inici, nl - inici);
  }
  fill.rebut.erase(0, inici);
}

// The system calls a robot sleeps in between wake-ups.
bool CridaDeSon(long crida) {
#if defined(__x86_64__)
  return crida == 34 || crida == 35 || crida == 130 || crida == 219 || crida == 230 || crida == 7 ||
         crida == 23 || crida == 232 || crida == 270 || crida == 271 || crida == 281;
#elif defined(__aarch64__)
  return crida == 101 || crida == 115 || crida == 128 || crida == 133 || crida == 72 ||
         crida == 73 || crida == 22;
#else
  (void)crida;
  return true;
#endif
}

enum t_estat { ACABAT, DORM, OCUPAT };

// Whether the robot has ended, sleeps with no SIGUSR1 pending, or is busy.
t_estat Estat(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream stat(dir + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const size_t tancament = text.rfind(')');
  if (tancament == std::string::npos || tancament + 2 >= text.size()) return ACABAT;  // reaped
  const char estat = text[tancament + 2];
  if (estat == 'Z' || estat == 'X') return ACABAT;
  if (estat != 'S') return OCUPAT;
  long crida = -1;
  std::ifstream(dir + "/syscall") >> crida;
  if (!CridaDeSon(crida)) return OCUPAT;
  std::ifstream status(dir + "/status");
  const unsigned long usr1 = 1ul << (SIGUSR1 - 1);
  for (std::string linia; std::getline(status, linia);) {
    if (linia.rfind("SigPnd:", 0) == 0 || linia.rfind("ShdPnd:", 0) == 0) {
      if (std::stoul(linia.substr(7), nullptr, 16) & usr1) return OCUPAT;
    }
  }
  return DORM;
}

bool PipaBuida(int fd) {
  int pendents = 0;
  return fd < 0 || ioctl(fd, FIONREAD, &pendents) != 0 || pendents == 0;
}

}  // namespace

bool Engega(t_fill& fill, const std::string& cami, const std::string& previ) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  AfegeixFlag(in[0], O_NONBLOCK);  // the robot's side: a read finds what waits, or EAGAIN
  AfegeixFlag(in[1], O_NONBLOCK);
  AfegeixFlag(out[0], O_NONBLOCK);
  if (!previ.empty()) {
    fcntl(out[1], F_SETPIPE_SZ, static_cast<int>(previ.size()));
    if (write(out[1], previ.data(), previ.size()) != static_cast<ssize_t>(previ.size())) {
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      return false;
    }
  }

  // A robot must not die of a signal that comes before it has installed its handler: it stays
  // blocked across the exec, and pending, until the robot unblocks it.
  sigset_t usr1, abans;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &abans);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    signal(SIGPIPE, SIG_DFL);
    execl(cami.c_str(), cami.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  sigprocmask(SIG_SETMASK, &abans, nullptr);
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    return false;
  }
  fill = t_fill{};
  fill.pid = pid;
  fill.entrada = in[1];
  fill.sortida = out[0];
  fill.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return true;
}

void Drena(t_fill& fill) {
  // At most a megabyte a call, so a robot that writes without end cannot keep us here.
  char buf[65536];
  for (int i = 0; i < 16 && fill.sortida >= 0; ++i) {
    const ssize_t n = read(fill.sortida, buf, sizeof buf);
    if (n > 0) {
      fill.rebut.append(buf, static_cast<size_t>(n));
      fill.bytes_rebuts += static_cast<size_t>(n);
    } else if (n == 0) {
      fill.sortida_tancada = true;
      Tanca(fill.sortida);
    } else if (errno != EINTR) {
      break;
    }
  }
  Talla(fill);
}

void Senyala(t_fill& fill) {
  if (fill.pid > 0 && fill.estat < 0) kill(fill.pid, SIGUSR1);
}

bool Escriu(t_fill& fill, const std::string& dades, int ms) {
  size_t fet = 0;
  auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  while (fet < dades.size()) {
    if (fill.entrada < 0) return false;
    const ssize_t n = write(fill.entrada, dades.data() + fet, dades.size() - fet);
    if (n > 0) {
      fet += static_cast<size_t>(n);
      limit = Rellotge::now() + std::chrono::milliseconds(ms);  // progress renews the deadline
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;  // EPIPE: the robot is gone
    if (Resta(limit) == 0) return false;
    // The pipe is full: wake the robot so it reads, and keep its output flowing meanwhile.
    Senyala(fill);
    pollfd p[2] = {{fill.entrada, POLLOUT, 0}, {fill.sortida, POLLIN, 0}};
    poll(p, fill.sortida >= 0 ? 2 : 1, std::min(Resta(limit), 50));
    Drena(fill);
  }
  return true;
}

bool EnviaLot(t_fill& fill, const std::string& linies, int ms) {
  const bool ok = Escriu(fill, linies, ms);
  Senyala(fill);
  return ok;
}

void TancaEntrada(t_fill& fill) {
  Tanca(fill.entrada);
}

bool LlegeixLinia(t_fill& fill, std::string& linia, int ms) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Drena(fill);
    if (!fill.linies.empty()) {
      linia = std::move(fill.linies.front());
      fill.linies.pop_front();
      return true;
    }
    if (fill.sortida < 0 || Resta(limit) == 0) return false;
    pollfd p{fill.sortida, POLLIN, 0};
    poll(&p, 1, Resta(limit));
  }
}

bool EsperaRepos(t_fill& fill, int ms, size_t max_bytes) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  const size_t abans = fill.bytes_rebuts;
  long espera = 10000;  // ns
  for (;;) {
    Drena(fill);
    if (fill.bytes_rebuts - abans > max_bytes) return false;
    // A robot that has ended will read nothing more, whatever is left in its pipe.
    const t_estat estat = fill.estat >= 0 ? ACABAT : Estat(fill.pid);
    if (estat == ACABAT || (estat == DORM && PipaBuida(fill.entrada))) {
      Drena(fill);  // everything it wrote before going to sleep is in the pipe now
      return true;
    }
    if (Resta(limit) == 0) return false;
    // A robot usually answers within tens of microseconds: look again soon, then less often.
    const timespec pausa{0, espera};
    nanosleep(&pausa, nullptr);
    espera = std::min(espera * 2, 1000000L);
  }
}

bool EsperaFi(t_fill& fill, int ms) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Drena(fill);
    if (fill.estat >= 0) return true;
    int estat = 0;
    const pid_t r = wait4(fill.pid, &estat, WNOHANG, &fill.us);
    if (r == fill.pid) {
      fill.estat = estat;
      Drena(fill);
      return true;
    }
    if (r < 0 || Resta(limit) == 0) return false;
    pollfd p[2] = {{fill.pidfd, POLLIN, 0}, {fill.sortida, POLLIN, 0}};
    // Without a pidfd nothing wakes us when the robot ends: look again every 10 ms.
    poll(p, 2, fill.pidfd >= 0 ? Resta(limit) : std::min(Resta(limit), 10));
  }
}

double TempsCpu(const t_fill& fill) {
  // schedstat counts nanoseconds on the CPU, finer than the clock ticks of stat.
  unsigned long long ns = 0;
  std::ifstream("/proc/" + std::to_string(fill.pid) + "/schedstat") >> ns;
  return static_cast<double>(ns) / 1e9;
}

void Atura(t_fill& fill, int sig) {
  if (fill.pid > 0 && fill.estat < 0) {
    kill(fill.pid, sig);
    int estat = 0;
    if (wait4(fill.pid, &estat, 0, &fill.us) == fill.pid) fill.estat = estat;
  }
  Drena(fill);
  Tanca(fill.entrada);
  Tanca(fill.sortida);
  Tanca(fill.pidfd);
}
