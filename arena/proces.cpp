// Process layer of the arena: starting a robot in a process group of its own, pipes, the wake-up
// signal, non-blocking reads of command lines, a look into /proc to tell when a robot has handled
// everything it was sent, and the end of a robot together with every process it started.
#include "arena/proces.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>

extern char** environ;

volatile sig_atomic_t interrupcio = 0;

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

// Every signal the arena sends goes through here: to a process it started (`pid`) or to the
// group of one (`-pid`), never to an id that a failed fork or an empty record could leave
// (-1 and 0 would reach every process we may signal, or our own group).
void Envia(pid_t pid, int sig, bool grup = false) {
  if (pid > 1) kill(grup ? -pid : pid, sig);
}

// Reads a small /proc file whole into `buf`; the number of bytes, or -1 if it is gone. With
// `fd`, the file stays open and is read again from its start next time: a robot is looked at
// on every tick, and opening and closing its files was most of what a look cost.
ssize_t LlegeixProc(const char* cami, char* buf, size_t mida, int* fd = nullptr) {
  const int f = fd && *fd >= 0 ? *fd : open(cami, O_RDONLY | O_CLOEXEC);
  if (f < 0) return -1;
  ssize_t total = 0, n = 0;
  while (total < static_cast<ssize_t>(mida) - 1 &&
         (n = pread(f, buf + total, mida - 1 - static_cast<size_t>(total), total)) > 0) {
    total += n;
  }
  if (n < 0 || !fd) {
    close(f);
    if (fd) *fd = -1;
  } else {
    *fd = f;
  }
  buf[total] = '\0';
  return n < 0 ? -1 : total;
}

// Cuts the bytes received into command lines.
void Talla(t_fill& fill) {
  size_t inici = 0;
  for (size_t nl; (nl = fill.rebut.find('\n', inici)) != std::string::npos; inici = nl + 1) {
    fill.linies.emplace_back(fill.rebut, inici, nl - inici);
  }
  fill.rebut.erase(0, inici);
}

// The system calls a robot waits in when it has nothing to do: sleeps, waits for a descriptor,
// a signal, a child or another thread, and reads that block.
bool CridaDEspera(long crida) {
  static const long espera[] = {
      SYS_read,          SYS_nanosleep,       SYS_clock_nanosleep,
      SYS_rt_sigsuspend, SYS_rt_sigtimedwait, SYS_restart_syscall,
      SYS_pselect6,      SYS_ppoll,           SYS_epoll_pwait,
      SYS_futex,         SYS_wait4,           SYS_waitid,
      SYS_recvfrom,      SYS_recvmsg,
#ifdef SYS_poll
      SYS_poll,          SYS_select,          SYS_pause,
      SYS_epoll_wait,
#endif
#ifdef SYS_epoll_pwait2
      SYS_epoll_pwait2,
#endif
#ifdef SYS_futex_waitv
      SYS_futex_waitv,
#endif
  };
  return std::find(std::begin(espera), std::end(espera), crida) != std::end(espera);
}

// One thread as one look at /proc sees it.
struct t_fil {
  pid_t pid, tid;
  unsigned long long cops;  // times it has been put on a CPU
};

enum t_estat { ACABAT, DORM, OCUPAT };

// The fields of a stat line after the command name: state, parent, group, threads, resident
// pages. False if the process is gone.
struct t_stat {
  char estat = '?';
  pid_t pare = 0, grup = 0;
  long fils = 0, rss = 0;
  std::string nom;
};

bool LlegeixStat(const char* cami, t_stat& s, int* fd = nullptr) {
  char buf[1024];
  if (LlegeixProc(cami, buf, sizeof buf, fd) <= 0) return false;
  const char* obert = std::strchr(buf, '(');
  const char* tancat = std::strrchr(buf, ')');
  if (!obert || !tancat || tancat[1] == '\0') return false;
  s.nom.assign(obert + 1, tancat);
  // Fields from the state on, numbered as proc(5) numbers them: 3 state, 4 parent, 5 group,
  // 20 threads, 24 resident pages. Read on every look at a robot, so by hand.
  const char* p = tancat + 2;
  s.estat = *p;
  long camps[25] = {};
  for (int camp = 4; camp <= 24 && *p; ++camp) {
    while (*p && *p != ' ') ++p;
    if (*p == ' ') ++p;
    camps[camp] = std::strtol(p, nullptr, 10);
  }
  s.pare = static_cast<pid_t>(camps[4]);
  s.grup = static_cast<pid_t>(camps[5]);
  s.fils = camps[20];
  s.rss = camps[24];
  return s.estat != '\0';
}

// A thread waits for the arena: asleep in a waiting system call, with no SIGUSR1 pending that it
// would take (one it blocks waits for ever, as with a robot that never asked for signals).
// Otherwise `ocupat` says what it does.
bool Espera(pid_t pid, pid_t tid, const t_stat& s, std::string& ocupat, int* fds = nullptr) {
  char cami[64], buf[2048];
  auto Ocupat = [&](const std::string& que) {
    ocupat = "process " + std::to_string(pid) + " (" + s.nom + ")" +
             (tid != pid ? ", thread " + std::to_string(tid) : "") + ": " + que;
    return false;
  };
  if (s.estat == 'Z' || s.estat == 'X') return true;  // ended: it does nothing any more
  if (s.estat != 'S') return Ocupat(std::string("state ") + s.estat);
  std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/syscall", pid, tid);
  if (LlegeixProc(cami, buf, sizeof buf, fds ? fds : nullptr) <= 0) return true;  // gone
  const long crida = std::strtol(buf, nullptr, 10);
  if (!CridaDEspera(crida) || std::strncmp(buf, "running", 7) == 0) {
    return Ocupat("in system call " + std::to_string(crida));
  }
  std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/status", pid, tid);
  if (LlegeixProc(cami, buf, sizeof buf, fds ? fds + 1 : nullptr) <= 0) return true;
  unsigned long pendent = 0, bloquejat = 0, ignorat = 0;
  for (const char* l = buf; l && *l; l = std::strchr(l, '\n'), l = l ? l + 1 : nullptr) {
    if (!std::strncmp(l, "SigPnd:", 7) || !std::strncmp(l, "ShdPnd:", 7)) {
      pendent |= std::strtoul(l + 7, nullptr, 16);
    } else if (!std::strncmp(l, "SigBlk:", 7)) {
      bloquejat = std::strtoul(l + 7, nullptr, 16);
    } else if (!std::strncmp(l, "SigIgn:", 7)) {
      ignorat = std::strtoul(l + 7, nullptr, 16);
    }
  }
  const unsigned long usr1 = 1ul << (SIGUSR1 - 1);
  if (pendent & usr1 & ~bloquejat & ~ignorat) return Ocupat("a SIGUSR1 is pending");
  return true;
}

// The robot's processes: itself and its descendants, through each thread's children.
std::vector<pid_t> Processos(pid_t arrel) {
  std::vector<pid_t> tots{arrel};
  char cami[320], buf[4096];
  for (size_t i = 0; i < tots.size(); ++i) {
    std::snprintf(cami, sizeof cami, "/proc/%d/task", tots[i]);
    DIR* d = opendir(cami);
    if (!d) continue;
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
      std::snprintf(cami, sizeof cami, "/proc/%d/task/%s/children", tots[i], e->d_name);
      if (LlegeixProc(cami, buf, sizeof buf) <= 0) continue;
      std::istringstream in(buf);
      for (pid_t fill; in >> fill;) tots.push_back(fill);
    }
    closedir(d);
  }
  return tots;
}

// One look at every thread of every process of the robot. DORM only if all of them wait; then
// `fils` holds each thread with the times it has run, for a second look to compare.
t_estat MiraTot(pid_t arrel, std::vector<t_fil>& fils, std::string& ocupat) {
  fils.clear();
  char cami[64], buf[256];
  for (pid_t pid : Processos(arrel)) {
    std::snprintf(cami, sizeof cami, "/proc/%d/task", pid);
    DIR* d = opendir(cami);
    if (!d) continue;
    bool espera = true;
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
      const pid_t tid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
      t_stat s;
      std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/stat", pid, tid);
      if (!LlegeixStat(cami, s)) continue;
      if (!Espera(pid, tid, s, ocupat)) {
        espera = false;
        break;
      }
      std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/schedstat", pid, tid);
      unsigned long long cops = 0;
      if (LlegeixProc(cami, buf, sizeof buf) > 0) {
        char* p = buf;
        for (int camp = 0; camp < 3; ++camp) cops = std::strtoull(p, &p, 10);
      }
      fils.push_back({pid, tid, cops});
    }
    closedir(d);
    if (!espera) return OCUPAT;
  }
  return DORM;
}

// Whether the robot has ended, waits for the arena, or is busy. A robot of one thread and no
// child can only be woken by the arena, so one look at it is enough. With more threads or
// processes one may be about to wake another: they must be found waiting twice, none of them
// having run in between.
t_estat Estat(pid_t pid, std::string& ocupat, int* fds) {
  char cami[64], buf[4096];
  std::snprintf(cami, sizeof cami, "/proc/%d/stat", pid);
  t_stat s;
  if (!LlegeixStat(cami, s, fds) || s.estat == 'Z' || s.estat == 'X') return ACABAT;
  if (s.fils == 1) {
    if (!Espera(pid, pid, s, ocupat, fds + 1)) return OCUPAT;
    std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/children", pid, pid);
    if (LlegeixProc(cami, buf, sizeof buf, fds + 3) <= 0) return DORM;
  }
  std::vector<t_fil> primera, segona;
  if (MiraTot(pid, primera, ocupat) != DORM) return OCUPAT;
  if (MiraTot(pid, segona, ocupat) != DORM) return OCUPAT;
  const auto Igual = [](const t_fil& a, const t_fil& b) {
    return a.pid == b.pid && a.tid == b.tid && a.cops == b.cops;
  };
  if (!std::equal(primera.begin(), primera.end(), segona.begin(), segona.end(), Igual)) {
    ocupat = "its threads were still waking each other";
    return OCUPAT;
  }
  return DORM;
}

// Waits `espera` nanoseconds, or less if the robot writes meanwhile (it writes as it finishes);
// the next wait is twice as long, up to a millisecond. A robot usually answers within tens of
// microseconds: look again soon, then less often.
void Dorm(const t_fill& fill, long& espera) {
  const timespec pausa{0, espera};
  pollfd p{fill.sortida, POLLIN, 0};
  ppoll(&p, fill.sortida >= 0 ? 1 : 0, &pausa, nullptr);
  espera = std::min(espera * 2, 1000000L);
}

bool PipaBuida(int fd) {
  int pendents = 0;
  return fd < 0 || ioctl(fd, FIONREAD, &pendents) != 0 || pendents == 0;
}

// The arena adopts what its robots leave behind (a process whose parent ended), so that it can
// end it: nothing a robot starts outlives it.
void FesteAdoptiu() {
  static std::once_flag un_cop;
  std::call_once(un_cop, [] { prctl(PR_SET_CHILD_SUBREAPER, 1); });
}

std::string NouMarca() {
  static std::atomic<unsigned> comptador{0};
  return "ARENA_ROBOT=" + std::to_string(getpid()) + "." + std::to_string(++comptador);
}

// Whether the environment of process `pid` holds `marca`.
bool PortaMarca(pid_t pid, const std::string& marca) {
  char cami[64];
  std::snprintf(cami, sizeof cami, "/proc/%d/environ", pid);
  const int fd = open(cami, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string entorn;
  char buf[8192];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) entorn.append(buf, static_cast<size_t>(n));
  close(fd);
  const std::string buscat = marca + '\0';
  return entorn.compare(0, buscat.size(), buscat) == 0 ||
         entorn.find('\0' + buscat) != std::string::npos;
}

// Ends what is left of a robot once the robot itself is reaped: the processes of its group, and
// those that left the group and were adopted by the arena carrying the robot's tag. Each of the
// latter is reaped by its pid; the group's members are reaped by their parents, or adopted and
// reaped here on a later round.
void Escombra(pid_t grup, const std::string& marca) {
  if (grup <= 1) return;
  const pid_t jo = getpid();
  const auto limit = Rellotge::now() + std::chrono::seconds(2);
  for (;;) {
    bool queda = false;
    DIR* d = opendir("/proc");
    if (!d) return;
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
      const pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
      char cami[64];
      std::snprintf(cami, sizeof cami, "/proc/%d/stat", pid);
      t_stat s;
      if (!LlegeixStat(cami, s)) continue;
      const bool adoptat = s.pare == jo && PortaMarca(pid, marca);
      if (s.grup != grup && !adoptat) continue;
      queda = true;
      if (s.grup == grup && s.estat != 'Z') Envia(grup, SIGKILL, true);
      if (adoptat) {
        Envia(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      } else if (s.pare == jo) {
        waitpid(pid, nullptr, WNOHANG);
      }
    }
    closedir(d);
    if (!queda || Resta(limit) == 0) return;
    const timespec pausa{0, 1000000};
    nanosleep(&pausa, nullptr);
  }
}

// The robot has ended (seen without reaping it, so its id still names its group): end the rest
// of its group, then reap it.
void Recull(t_fill& fill) {
  Envia(fill.pid, SIGKILL, true);
  int estat = 0;
  if (wait4(fill.pid, &estat, 0, &fill.us) == fill.pid) fill.estat = estat;
}

}  // namespace

std::vector<std::string> OrdreRobot(const std::string& robot) {
  struct stat st;
  if (stat(robot.c_str(), &st) == 0 || robot.find_first_of(" \t") == std::string::npos) {
    return {robot};
  }
  std::vector<std::string> ordre;
  std::istringstream in(robot);
  for (std::string paraula; in >> paraula;) ordre.push_back(paraula);
  return ordre;
}

std::string NoEngegable(const std::vector<std::string>& ordre) {
  if (ordre.empty() || ordre[0].empty()) return "no program given";
  const std::string& cami = ordre[0];
  if (cami.find('/') == std::string::npos) {
    // Looked up in PATH, as the exec will.
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
      const std::string provat = (dir.empty() ? "." : dir) + "/" + ordre[0];
      if (access(provat.c_str(), X_OK) == 0) return "";
    }
    return ordre[0] + ": not found in PATH";
  }
  struct stat st;
  if (stat(cami.c_str(), &st) != 0) return cami + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return cami + ": is a directory";
  if (access(cami.c_str(), X_OK) != 0) return cami + ": " + std::strerror(errno);
  return "";
}

bool Engega(t_fill& fill, const std::string& cami, const std::string& previ) {
  t_engegada e;
  e.ordre = {cami};
  e.previ = previ;
  return Engega(fill, e);
}

bool Engega(t_fill& fill, const t_engegada& engegada) {
  fill = t_fill{};
  FesteAdoptiu();
  if (engegada.ordre.empty()) {
    fill.error = "no program given";
    return false;
  }
  // Everything the child needs is made before the fork: between fork and exec it may only make
  // async-signal-safe calls, as other threads of the arena may hold the heap's lock.
  std::vector<char*> args;
  for (const auto& a : engegada.ordre) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  fill.marca = NouMarca();
  std::vector<char*> entorn;
  for (char** v = environ; *v; ++v) {
    if (std::strncmp(*v, "ARENA_ROBOT=", 12) != 0) entorn.push_back(*v);
  }
  entorn.push_back(const_cast<char*>(fill.marca.c_str()));
  entorn.push_back(nullptr);

  int fds[7] = {-1, -1, -1, -1, -1, -1, -1};
  int* in = fds;        // in[0] the robot's standard input, in[1] ours
  int* out = fds + 2;   // out[0] ours, out[1] the robot's standard output
  int* avis = fds + 4;  // the exec's error, if it fails
  int& err = fds[6];
  auto Falla = [&](const std::string& que) {
    fill.error = que + ": " + std::strerror(errno);
    for (int& fd : fds) Tanca(fd);
    return false;
  };
  if (engegada.entrada.empty()) {
    if (pipe2(in, O_CLOEXEC) != 0) return Falla("pipe");
    AfegeixFlag(in[0], O_NONBLOCK);  // the robot's side: a read finds what waits, or EAGAIN
    AfegeixFlag(in[1], O_NONBLOCK);
  } else if ((in[0] = open(engegada.entrada.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    return Falla(engegada.entrada);
  }
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(avis, O_CLOEXEC) != 0) return Falla("pipe");
  AfegeixFlag(out[0], O_NONBLOCK);
  if (engegada.sortida_no_bloquejant) AfegeixFlag(out[1], O_NONBLOCK);
  if (!engegada.err.empty() &&
      (err = open(engegada.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0) {
    return Falla(engegada.err);
  }
  if (!engegada.previ.empty()) {
    const std::string& previ = engegada.previ;
    fcntl(out[1], F_SETPIPE_SZ, static_cast<int>(previ.size()));
    if (write(out[1], previ.data(), previ.size()) != static_cast<ssize_t>(previ.size())) {
      return Falla("pipe");
    }
  }
  rlimit fitxer{RLIM_INFINITY, RLIM_INFINITY};
  if (engegada.max_fitxer_mib > 0) {
    fitxer.rlim_cur = fitxer.rlim_max = static_cast<rlim_t>(engegada.max_fitxer_mib) << 20;
  }

  // A robot must not die of a signal that comes before it has installed its handler: it stays
  // blocked across the exec, and pending, until the robot unblocks it.
  sigset_t usr1, abans;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &abans);
  const pid_t pare = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // Ends with the arena thread that started it, should the arena be killed outright.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != pare) _exit(127);
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
    const rlimit cap_core{0, 0};
    setrlimit(RLIMIT_CORE, &cap_core);
    setrlimit(RLIMIT_FSIZE, &fitxer);
    sigprocmask(SIG_SETMASK, &usr1, nullptr);
    execvpe(args[0], args.data(), entorn.data());
    const int e = errno;
    if (write(avis[1], &e, sizeof e) < 0) _exit(127);
    _exit(127);
  }
  pthread_sigmask(SIG_SETMASK, &abans, nullptr);
  if (pid < 0) return Falla("fork");
  setpgid(pid, pid);  // also here, so that the group exists whichever of the two runs first
  Tanca(in[0]);
  Tanca(out[1]);
  Tanca(avis[1]);
  Tanca(err);
  int error_exec = 0;
  ssize_t n;
  while ((n = read(avis[0], &error_exec, sizeof error_exec)) < 0 && errno == EINTR) {
  }
  Tanca(avis[0]);
  fill.pid = pid;
  fill.entrada = in[1];
  fill.sortida = out[0];
  fill.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (n == static_cast<ssize_t>(sizeof error_exec)) {
    const std::string marca = fill.marca;
    Atura(fill);
    fill.error = "cannot run " + engegada.ordre[0] + ": " + std::strerror(error_exec);
    fill.marca = marca;
    return false;
  }
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
  if (fill.estat < 0) Envia(fill.pid, SIGUSR1);
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
    if (Resta(limit) == 0 || interrupcio) return false;
    // The pipe is full: wake the robot so it reads, and keep its output flowing meanwhile.
    Senyala(fill);
    pollfd p[2] = {{fill.entrada, POLLOUT, 0}, {fill.sortida, POLLIN, 0}};
    poll(p, fill.sortida >= 0 ? 2 : 1, std::min(Resta(limit), 50));
    Drena(fill);
  }
  return true;
}

bool EnviaLot(t_fill& fill, const std::string& linies, int ms, bool senyal) {
  const bool ok = Escriu(fill, linies, ms);
  if (senyal) Senyala(fill);
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

bool EsperaRepos(t_fill& fill, int ms, size_t max_bytes, const t_limits* limits) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  auto propera_mida = Rellotge::now() + std::chrono::milliseconds(50);
  const size_t abans = fill.bytes_rebuts;
  long espera = 10000;  // ns
  fill.ocupat.clear();
  fill.passat.clear();
  for (int volta = 0;; ++volta) {
    Drena(fill);
    if (fill.bytes_rebuts - abans > max_bytes) return false;
    // Input still waiting means the robot has not finished: no need to look into /proc, which
    // costs CPU that the robots, and the other matches of a tournament, need more. Now and then
    // it is looked at all the same, to see a robot that has ended or does not read.
    const bool llegit = PipaBuida(fill.entrada);
    if (!llegit && volta % 8 != 7 && fill.estat < 0 && Resta(limit) > 0 && !interrupcio) {
      Dorm(fill, espera);
      continue;
    }
    // A robot that has ended will read nothing more, whatever is left in its pipe.
    const t_estat estat = fill.estat >= 0 ? ACABAT : Estat(fill.pid, fill.ocupat, fill.fd_proc);
    if (estat == ACABAT || (estat == DORM && PipaBuida(fill.entrada))) {
      Drena(fill);  // everything it wrote before going to sleep is in the pipe now
      fill.ocupat.clear();
      return true;
    }
    if (estat == DORM) fill.ocupat = "it has not read all its input";
    if (Resta(limit) == 0 || interrupcio) return false;
    // A robot that keeps busy may be growing: its size is looked at every 50 ms meanwhile.
    if (limits && Rellotge::now() >= propera_mida) {
      fill.passat = PassaLimits(fill, *limits);
      if (!fill.passat.empty()) return false;
      propera_mida = Rellotge::now() + std::chrono::milliseconds(50);
    }
    Dorm(fill, espera);
  }
}

t_consum Consum(const t_fill& fill) {
  t_consum c;
  if (fill.pid <= 0 || fill.estat >= 0) return c;
  static const long pagina_kib = sysconf(_SC_PAGESIZE) / 1024;
  for (pid_t pid : Processos(fill.pid)) {
    char cami[64];
    std::snprintf(cami, sizeof cami, "/proc/%d/stat", pid);
    t_stat s;
    if (!LlegeixStat(cami, s) || s.estat == 'Z') continue;
    ++c.processos;
    c.memoria_kib += s.rss * pagina_kib;
  }
  return c;
}

std::string PassaLimits(const t_fill& fill, const t_limits& limits) {
  if (limits.memoria_mib <= 0 && limits.processos <= 0) return "";
  const t_consum c = Consum(fill);
  if (limits.memoria_mib > 0 && c.memoria_kib > limits.memoria_mib * 1024) {
    return "exceeded its memory limit (" + std::to_string(limits.memoria_mib) + " MiB)";
  }
  if (limits.processos > 0 && c.processos > limits.processos) {
    return "exceeded its process limit (" + std::to_string(limits.processos) + ")";
  }
  return "";
}

bool EsperaFi(t_fill& fill, int ms) {
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Drena(fill);
    if (fill.estat >= 0) return true;
    if (fill.pid <= 0) return false;
    // Seen without reaping first, so that its id still names its group when the group is ended.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(fill.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      return false;
    }
    if (info.si_pid == fill.pid) {
      Recull(fill);
      Drena(fill);
      return true;
    }
    if (Resta(limit) == 0) return false;
    pollfd p[2] = {{fill.pidfd, POLLIN, 0}, {fill.sortida, POLLIN, 0}};
    // Without a pidfd nothing wakes us when the robot ends: look again every 10 ms.
    poll(p, 2, fill.pidfd >= 0 ? Resta(limit) : std::min(Resta(limit), 10));
  }
}

double TempsCpu(const t_fill& fill) {
  // schedstat counts nanoseconds on the CPU, finer than the clock ticks of stat.
  char cami[64], buf[128];
  std::snprintf(cami, sizeof cami, "/proc/%d/schedstat", fill.pid);
  if (fill.pid <= 0 || LlegeixProc(cami, buf, sizeof buf) <= 0) return 0;
  return static_cast<double>(std::strtoull(buf, nullptr, 10)) / 1e9;
}

void Atura(t_fill& fill, int sig) {
  if (fill.pid > 0 && fill.estat < 0) {
    Envia(fill.pid, sig);
    // Another signal than SIGKILL gives it two seconds to end by itself.
    if (sig == SIGKILL || !EsperaFi(fill, 2000)) {
      Envia(fill.pid, SIGKILL);
      Recull(fill);
    }
  }
  if (fill.pid > 0) Escombra(fill.pid, fill.marca);
  Drena(fill);
  Tanca(fill.entrada);
  Tanca(fill.sortida);
  Tanca(fill.pidfd);
  for (int& fd : fill.fd_proc) Tanca(fd);
}

std::string ComAcaba(int estat) {
  if (WIFEXITED(estat)) return "exited with status " + std::to_string(WEXITSTATUS(estat));
  if (WIFSIGNALED(estat)) {
    const int s = WTERMSIG(estat);
    const char* nom = sigabbrev_np(s);
    return "killed by signal " + std::to_string(s) + " (" + (nom ? "SIG" + std::string(nom) : "?") +
           ")";
  }
  return "ended with status " + std::to_string(estat);
}
