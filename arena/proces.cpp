// Process layer of the arena: starting a robot in a sandbox and a process group of its own,
// pipes, the wake-up signal, non-blocking reads of command lines, a look into /proc to tell when
// a robot has handled everything it was sent, and the end of a robot together with every process
// it started.
#include "arena/proces.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>

extern char** environ;

namespace arena {

std::atomic<int> interrupcio{0};

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

// A signal to the robot itself goes through its pidfd where there is one: once it has ended, its
// id may be another process's (in a sandbox it is reaped by the sandbox's init, not by us).
void EnviaRobot(const t_fill& fill, int sig) {
  if (fill.pidfd >= 0) {
    if (syscall(SYS_pidfd_send_signal, fill.pidfd, sig, nullptr, 0) == 0 || errno != ENOSYS) {
      return;
    }
  }
  Envia(fill.pid, sig);
}

// ---- What the child processes run, from the clone to the exec ----------------------------------
// They are copies of a process that may have other threads (a tournament starts robots from
// several), one of which may hold a lock of the heap, of stdio or of a sanitizer's runtime at the
// moment of the copy, and the sandbox's init never execs at all. So they only make raw system
// calls, on memory prepared before the clone, and ThreadSanitizer does not instrument them
// (they must not enter its runtime, nor any function it intercepts).
#define NOMES_CRIDES __attribute__((no_sanitize("address", "thread"), noinline))

enum t_mode { SENSE, ARREL, USUARI };  // no sandbox; namespaces as root; in a user namespace

// Where a child failed, sent to the arena through the report pipe with errno.
enum t_etapa {
  E_EXEC,
  E_DESCRIPTORS,
  E_SETGROUPS,
  E_UID_MAP,
  E_GID_MAP,
  E_PRIVAT,
  E_PROC,
  E_TMP,
  E_SHM,
  E_PORTAT,
  E_FORK,
  E_INICI,
};
const char* const kEtapes[] = {"exec",
                               "descriptors",
                               "setgroups",
                               "uid_map",
                               "gid_map",
                               "making / private",
                               "mounting /proc",
                               "mounting /tmp",
                               "mounting /dev/shm",
                               "carrying a path from /tmp",
                               "fork",
                               "exec of its init"};
struct t_avis {
  int etapa, error;
};
// What the init sends once the robot has ended.
struct t_final {
  int estat;
  rusage us;
};

constexpr int kMaxPortats = 8;
constexpr int kAvis = 3;     // the exec's report, in the children
constexpr int kControl = 4;  // the init's channel to the arena
constexpr int kPortat = 5;   // the first of the paths carried into the sandbox's /tmp
constexpr int kEspera = 5;   // the robot's end of its go-ahead from an exec'd init
constexpr int kVia = 6;      // the init's end
constexpr int kInici = kPortat + kMaxPortats;  // the init program, opened before /tmp is covered
constexpr size_t kPila = 64 * 1024;            // a robot's stack from its clone to its exec
constexpr size_t kPilaInit = 4 * kPila;        // the sandbox's, from its clone to the init's exec

// Everything the children need, made before the clone.
struct t_crida {
  char** camins = nullptr;   // where the program may be, in the order to try (null-terminated)
  char** args = nullptr;     // its arguments
  char** args_sh = nullptr;  // for a script with no #! line: /bin/sh, the script, its arguments
  char** entorn = nullptr;
  int in = -1, out = -1, err = -1, avis = -1, control = -1;
  unsigned long mascara_robot = 0;  // the signal mask it execs with (kernel sigset)
  rlimit fitxer{RLIM_INFINITY, RLIM_INFINITY};
  t_mode mode = SENSE;
  const char* mapa_uid = nullptr;  // "UID UID 1"
  const char* mapa_gid = nullptr;
  long mida_uid = 0, mida_gid = 0;
  bool shm = true;  // /dev/shm exists
  const char* portats[kMaxPortats] = {};
  const char* fd_portats[kMaxPortats] = {};  // "/proc/self/fd/N" for each
  bool dir_portats[kMaxPortats] = {};
  int n_portats = 0;
  bool prova = false;  // only make the sandbox, and end
  long holgura = 0;    // the timer slack the robot runs with: the arena's own before it changed
  pid_t pare = 0;      // the arena, without a sandbox
  // The init program to exec once the sandbox is made, or null: the init stays a copy of the
  // arena. With it, the sandbox is made from a child that shares the arena's memory, and the
  // robot started on `pila_robot` (kPila bytes), also sharing it until its exec.
  const char* inici = nullptr;
  char* pila_robot = nullptr;
};

NOMES_CRIDES long Crida(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
  return syscall(n, a, b, c, d, e);
}

template <class T>
NOMES_CRIDES long A(T* p) {
  return reinterpret_cast<long>(p);
}

[[noreturn]] NOMES_CRIDES void Surt(int codi) {
  for (;;) Crida(SYS_exit_group, codi);
}

[[noreturn]] NOMES_CRIDES void Avisa(int fd, int etapa) {
  const t_avis a{etapa, errno};
  Crida(SYS_write, fd, A(&a), sizeof a);
  Surt(127);
}

NOMES_CRIDES void TancaDesDe(int primer) {
  if (Crida(SYS_close_range, primer, ~0U, 0) != 0) {
    for (long fd = primer; fd < 4096; ++fd) Crida(SYS_close, fd);
  }
}

NOMES_CRIDES bool EscriuFitxer(const char* cami, const char* text, long mida) {
  const long fd = Crida(SYS_openat, AT_FDCWD, A(cami), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const long n = Crida(SYS_write, fd, A(text), mida);
  Crida(SYS_close, fd);
  return n == mida;
}

// Every signal back to its default action (one the arena ignores would stay ignored across the
// exec: SIGUSR1 among them).
NOMES_CRIDES void SenyalsPerDefecte() {
  struct {
    unsigned long handler, flags, restorer, mask;
  } defecte{};
  for (long s = 1; s < 65; ++s) {
    if (s != SIGKILL && s != SIGSTOP) Crida(SYS_rt_sigaction, s, A(&defecte), 0, 8);
  }
}

// Puts the robot's standard input, output and error at 0, 1 and 2, the exec's report at 3 and,
// for an init, its channel at 4; closes every other descriptor.
NOMES_CRIDES bool Col_loca(const t_crida& c) {
  long fds[5] = {c.in, c.out, c.err >= 0 ? c.err : STDERR_FILENO, c.avis, c.control};
  const int n = c.control >= 0 ? 5 : 4;
  for (int i = 0; i < n; ++i) {
    if ((fds[i] = Crida(SYS_fcntl, fds[i], F_DUPFD, 10)) < 0) return false;
  }
  for (int i = 0; i < n; ++i) {
    if (Crida(SYS_dup3, fds[i], i, i >= kAvis ? O_CLOEXEC : 0) < 0) return false;
  }
  TancaDesDe(n);
  return true;
}

// The robot, from the fork to its exec: its own group, no core files, the file size limit,
// descriptors 0, 1 and 2 only, every signal at its default and SIGUSR1 blocked.
[[noreturn]] NOMES_CRIDES void Robot(const t_crida& c) {
  Crida(SYS_setpgid, 0, 0);
  if (c.mode != SENSE) {
    // A robot run as root must not undo its sandbox's mounts nor look into its init.
    Crida(SYS_prctl, PR_CAPBSET_DROP, CAP_SYS_ADMIN);
    Crida(SYS_prctl, PR_CAPBSET_DROP, CAP_SYS_PTRACE);
  }
  TancaDesDe(kAvis + 1);
  const rlimit cap{0, 0};
  Crida(SYS_prlimit64, 0, RLIMIT_CORE, A(&cap), 0);
  Crida(SYS_prlimit64, 0, RLIMIT_FSIZE, A(&c.fitxer), 0);
  SenyalsPerDefecte();
  Crida(SYS_rt_sigprocmask, SIG_SETMASK, A(&c.mascara_robot), 0, 8);
  Crida(SYS_prctl, PR_SET_TIMERSLACK, c.holgura);
  // As execvpe does: each place in turn; a script with no #! line is run by /bin/sh.
  int error = ENOENT;
  bool denegat = false;
  for (char** cami = c.camins; *cami; ++cami) {
    Crida(SYS_execve, A(*cami), A(c.args), A(c.entorn));
    error = errno;
    if (error == ENOEXEC) {
      c.args_sh[1] = *cami;
      Crida(SYS_execve, A(c.args_sh[0]), A(c.args_sh), A(c.entorn));
      error = errno;
    }
    if (error == EACCES) {
      denegat = true;
    } else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV &&
               error != ETIMEDOUT) {
      break;
    }
  }
  errno = denegat && error != ENOEXEC ? EACCES : error;
  Avisa(kAvis, E_EXEC);
}

int ExecutaRobot(void* c);

// The robot of an exec'd init: it waits for the go-ahead (the init's end closed once the init
// cannot be looked into), then execs.
NOMES_CRIDES int ExecutaRobotQuanPugui(void* dades) {
  const t_crida& c = *static_cast<const t_crida*>(dades);
  Crida(SYS_close, kVia);
  char res = 0;
  while (Crida(SYS_read, kEspera, A(&res), 1) < 0 && errno == EINTR) {
  }
  Crida(SYS_close, kEspera);
  Robot(c);
}

// The sandbox made, from the child that made it and shares the arena's memory: the robot is
// started on its own stack, waiting for the go-ahead, and the init program exec'd in this
// process, with the channel to the arena and the go-ahead's end; the robot's descriptors and
// the carried paths are closed. The arena's thread, held until now, runs on once the exec is
// done, and from then on neither child touches its memory but the robot's stack.
[[noreturn]] NOMES_CRIDES void ExecutaInici(const t_crida& c, int avis) {
  Crida(SYS_close_range, kPortat, kInici - 1, 0);
  // Its two ends at kEspera and kVia, wherever the pipe was made: copied above them first.
  int via[2];
  if (Crida(SYS_pipe2, A(via), 0) != 0) Avisa(avis, E_FORK);
  const long lectura = Crida(SYS_fcntl, via[0], F_DUPFD, kInici + 1);
  const long escriptura = Crida(SYS_fcntl, via[1], F_DUPFD, kInici + 1);
  if (lectura < 0 || escriptura < 0 || Crida(SYS_dup3, lectura, kEspera, 0) < 0 ||
      Crida(SYS_dup3, escriptura, kVia, 0) < 0) {
    Avisa(avis, E_FORK);
  }
  Crida(SYS_close_range, kVia + 1, kInici - 1, 0);
  TancaDesDe(kInici + 1);
  const long robot = clone(&ExecutaRobotQuanPugui, c.pila_robot + kPila, CLONE_VM | SIGCHLD,
                           const_cast<t_crida*>(&c));
  if (robot < 0) Avisa(avis, E_FORK);
  Crida(SYS_close, kEspera);
  for (long fd = 0; fd < kAvis; ++fd) Crida(SYS_close, fd);
  Crida(SYS_fcntl, kControl, F_SETFD, 0);  // kept across the exec; the report is not
  char num[24];
  char* p = num + sizeof num;
  *--p = '\0';
  for (long n = robot; n > 0; n /= 10) *--p = static_cast<char>('0' + n % 10);
  char* args[] = {const_cast<char*>(c.inici), p, nullptr};
  char* entorn[] = {nullptr};
  Crida(SYS_execveat, kInici, A(""), A(args), A(entorn), AT_EMPTY_PATH);
  Avisa(avis, E_INICI);
}

// Starts `inici(arg)` in a child that shares this process's memory, on `pila` (kPila bytes),
// and waits until it has exec'd or ended, as vfork does, sparing the copy of this process's
// page tables and the write faults that a copy leaves on its every page. Its pid, or -1.
NOMES_CRIDES long Engendra(int (*inici)(void*), char* pila, const t_crida* c) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's runtime would be written by a child sharing its memory too: a copy, then,
  // which the caller's pipes wait for just as well.
  (void)pila;
  const long pid = Crida(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  if (pid == 0) Crida(SYS_exit, inici(const_cast<t_crida*>(c)));
  return pid;
#else
  return clone(inici, pila + kPila, CLONE_VM | CLONE_VFORK | SIGCHLD, const_cast<t_crida*>(c));
#endif
}

// Once the arena says it has taken the robot's pid (until then the robot stays our child),
// reaps every process of the sandbox until the robot ends, then sends its wait status.
[[noreturn]] NOMES_CRIDES void Reculls(long robot) {
  char via = 0;
  if (Crida(SYS_read, kControl, A(&via), 1) != 1) Surt(0);
  for (;;) {
    t_final final{};
    const long fill = Crida(SYS_wait4, -1, A(&final.estat), __WALL, 0);
    if (fill == robot) {
      // With what the robot and every process reaped so far used: not the init's own.
      Crida(SYS_getrusage, RUSAGE_CHILDREN, A(&final.us));
      Crida(SYS_write, kControl, A(&final), sizeof final);
      Surt(0);
    }
    if (fill < 0 && errno == ECHILD) Surt(0);
  }
}

// The sandbox's first process, its pid 1. It makes the mounts private, mounts a /proc of the new
// PID namespace and fresh /tmp and /dev/shm, carries into them what the command line names
// there, forks the robot, and then reaps every process of the namespace until the robot ends:
// it sends the robot's wait status to the arena and ends, and with it every process left.
[[noreturn]] NOMES_CRIDES void Init(const t_crida& c) {
  // Every signal is blocked, from before the clone, and stays so. Of what a process of the
  // namespace sends it, the kernel delivers nothing; the arena's SIGKILL ends the namespace.
  Crida(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
  SenyalsPerDefecte();
  int avis = c.avis;
  if (!c.prova) {
    if (!Col_loca(c)) Avisa(avis, E_DESCRIPTORS);
    avis = kAvis;
  }
  if (c.mode == USUARI) {
    if (!EscriuFitxer("/proc/self/setgroups", "deny", 4) && errno != ENOENT) {
      Avisa(avis, E_SETGROUPS);
    }
    if (!EscriuFitxer("/proc/self/uid_map", c.mapa_uid, c.mida_uid)) Avisa(avis, E_UID_MAP);
    if (!EscriuFitxer("/proc/self/gid_map", c.mapa_gid, c.mida_gid)) Avisa(avis, E_GID_MAP);
  }
  // No process of the robot may look into it (after the maps: its /proc files become root's).
  // An exec'd init says so itself: here it would say it of the arena's memory, which it shares.
  if (!c.inici) Crida(SYS_prctl, PR_SET_DUMPABLE, 0);
  if (Crida(SYS_mount, 0, A("/"), 0, MS_REC | MS_PRIVATE, 0) != 0) Avisa(avis, E_PRIVAT);
  // What is carried is opened before /tmp is covered, at kPortat on (every descriptor above the
  // channel is closed: the lowest free ones); so is the init program, which may be there too.
  for (int i = 0; i < c.n_portats; ++i) {
    const long fd = Crida(SYS_openat, AT_FDCWD, A(c.portats[i]), O_PATH | O_CLOEXEC);
    if (fd < 0 || (fd != kPortat + i && Crida(SYS_dup3, fd, kPortat + i, O_CLOEXEC) < 0)) {
      Avisa(avis, E_PORTAT);
    }
  }
  if (c.inici) {
    const long fd = Crida(SYS_openat, AT_FDCWD, A(c.inici), O_PATH | O_CLOEXEC);
    if (fd < 0 || (fd != kInici && Crida(SYS_dup3, fd, kInici, O_CLOEXEC) < 0)) {
      Avisa(avis, E_INICI);
    }
    if (fd != kInici) Crida(SYS_close, fd);
  }
  const long flags = MS_NOSUID | MS_NODEV;
  if (Crida(SYS_mount, A("proc"), A("/proc"), A("proc"), flags | MS_NOEXEC, 0) != 0) {
    Avisa(avis, E_PROC);
  }
  if (Crida(SYS_mount, A("tmpfs"), A("/tmp"), A("tmpfs"), flags, A("mode=1777")) != 0) {
    Avisa(avis, E_TMP);
  }
  if (c.shm && Crida(SYS_mount, A("tmpfs"), A("/dev/shm"), A("tmpfs"), flags, A("mode=1777"))) {
    Avisa(avis, E_SHM);
  }
  for (int i = 0; i < c.n_portats; ++i) {
    const char* cami = c.portats[i];
    if (c.dir_portats[i]) {
      Crida(SYS_mkdirat, AT_FDCWD, A(cami), 0755);
    } else {
      Crida(SYS_close, Crida(SYS_openat, AT_FDCWD, A(cami), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    }
    if (Crida(SYS_mount, A(c.fd_portats[i]), A(cami), 0, MS_BIND | MS_REC, 0) != 0) {
      Avisa(avis, E_PORTAT);
    }
  }
  if (c.prova) Surt(0);
  if (c.inici) ExecutaInici(c, avis);
  // The robot shares this copy's memory until its exec, as with vfork: a second copy of the
  // arena's page tables would be made only to be thrown away by the exec.
  alignas(16) char pila[kPila];
  const long robot = Engendra(&ExecutaRobot, pila, &c);
  if (robot < 0) Avisa(avis, E_FORK);
  // The robot's descriptors are its own: its pipes end when it and its processes end.
  for (long fd = 0; fd <= kAvis; ++fd) Crida(SYS_close, fd);
  TancaDesDe(kPortat);
  Reculls(robot);
}

NOMES_CRIDES int ExecutaInit(void* c) {
  Init(*static_cast<const t_crida*>(c));
}

// Clones the calling process into new namespaces (`flags`); the child becomes the sandbox's
// init: with `c.inici`, sharing our memory on `pila` (kPilaInit bytes) until it execs the init
// program, as vfork; without, a copy of this process, fork-like. The child's pid, or -1 with
// errno.
NOMES_CRIDES pid_t Clona(const t_crida& c, long flags, char* pila = nullptr) {
  if (c.inici) {
    return clone(&ExecutaInit, pila + kPilaInit,
                 static_cast<int>(flags) | CLONE_VM | CLONE_VFORK | SIGCHLD,
                 const_cast<t_crida*>(&c));
  }
  const long pid = Crida(SYS_clone, flags | SIGCHLD, 0, 0, 0, 0);
  if (pid == 0) Init(c);
  return static_cast<pid_t>(pid);
}

NOMES_CRIDES int ExecutaRobot(void* c) {
  Robot(*static_cast<const t_crida*>(c));
}

// The robot without a sandbox, from its clone on.
[[noreturn]] NOMES_CRIDES void RobotSol(const t_crida& c) {
  // Ends with the arena thread that started it, should the arena be killed outright (or have
  // been already).
  Crida(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
  if (Crida(SYS_getppid) != c.pare) Surt(127);
  if (!Col_loca(c)) Avisa(c.avis, E_DESCRIPTORS);
  Robot(c);
}

NOMES_CRIDES int ExecutaRobotSol(void* c) {
  RobotSol(*static_cast<const t_crida*>(c));
}

// ---- The arena's side ------------------------------------------------------------------------

std::string DiuAvis(const t_avis& a) {
  const int n = static_cast<int>(sizeof kEtapes / sizeof kEtapes[0]);
  return std::string(a.etapa >= 0 && a.etapa < n ? kEtapes[a.etapa] : "?") + ": " +
         std::strerror(a.error);
}

// The kernel's signal set for one signal, and for all.
unsigned long Conjunt(int sig) {
  return sig > 0 ? 1ul << (sig - 1) : ~0ul;
}

struct t_caixa {
  t_mode mode = SENSE;
  std::string motiu;  // why there is none
  std::string mapa_uid, mapa_gid;
};

long Flags(t_mode mode) {
  return CLONE_NEWPID | CLONE_NEWNS | (mode == USUARI ? CLONE_NEWUSER : 0);
}

// Makes one sandbox, as a robot's would be made, and ends it: empty if it worked, or why not.
std::string Prova(t_mode mode, const t_caixa& caixa) {
  t_crida c;
  c.mode = mode;
  c.prova = true;
  c.mapa_uid = caixa.mapa_uid.c_str();
  c.mapa_gid = caixa.mapa_gid.c_str();
  c.mida_uid = static_cast<long>(caixa.mapa_uid.size());
  c.mida_gid = static_cast<long>(caixa.mapa_gid.size());
  c.shm = access("/dev/shm", F_OK) == 0;
  int avis[2];
  if (pipe2(avis, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  c.avis = avis[1];
  sigset_t tots, abans;
  sigfillset(&tots);
  pthread_sigmask(SIG_SETMASK, &tots, &abans);
  const pid_t pid = Clona(c, Flags(mode));
  const int error = errno;
  pthread_sigmask(SIG_SETMASK, &abans, nullptr);
  close(avis[1]);
  std::string motiu;
  if (pid < 0) {
    motiu = std::string("clone: ") + std::strerror(error);
  } else {
    t_avis a{};
    ssize_t n;
    while ((n = read(avis[0], &a, sizeof a)) < 0 && errno == EINTR) {
    }
    int estat = 0;
    while (waitpid(pid, &estat, 0) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof a)) {
      motiu = DiuAvis(a);
    } else if (!WIFEXITED(estat) || WEXITSTATUS(estat) != 0) {
      motiu = "its init " + ComAcaba(estat);
    }
  }
  close(avis[0]);
  return motiu;
}

// The stacks of the children that start a robot, which share our memory until they exec: the
// sandbox's (kPilaInit bytes) and the robot's above it. Unmapped when the start is over, by
// when the robot has exec'd or ended and its sandbox's first process exec'd (or ended).
struct t_piles {
  char* inici = nullptr;
  t_piles() {
    void* p = mmap(nullptr, kPilaInit + kPila, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (p != MAP_FAILED) inici = static_cast<char*>(p);
  }
  ~t_piles() {
    if (inici) munmap(inici, kPilaInit + kPila);
  }
  t_piles(const t_piles&) = delete;
  t_piles& operator=(const t_piles&) = delete;
  char* robot() const { return inici + kPilaInit; }
};

// The init program a sandbox execs once made: beside the program that starts robots, or where
// it was built; empty if neither is there (the init is then a copy of this process).
//
// Under ThreadSanitizer there is none: its runtime keeps each thread's state where a child that
// shares the thread's memory and runs beside it would write it too.
const std::string& Inici() {
  static const std::string cami = [] {
    std::vector<std::string> llocs;
#if defined(__SANITIZE_THREAD__)
    return std::string();
#endif
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      const std::string propi(exe, static_cast<size_t>(n));
      llocs.push_back(propi.substr(0, propi.rfind('/') + 1) + "arena_inici");
    }
#ifdef ARENA_INICI_BIN
    llocs.emplace_back(ARENA_INICI_BIN);
#endif
    for (const auto& l : llocs) {
      if (access(l.c_str(), X_OK) == 0) return l;
    }
    return std::string();
  }();
  return cami;
}

// This process's own ids mapped to themselves, for a user namespace.
const t_caixa& Mapes() {
  static const t_caixa mapes = [] {
    t_caixa c;
    c.mapa_uid = std::to_string(geteuid()) + " " + std::to_string(geteuid()) + " 1";
    c.mapa_gid = std::to_string(getegid()) + " " + std::to_string(getegid()) + " 1";
    return c;
  }();
  return mapes;
}

// What sandbox this process can make, found out once by making one of each kind.
const t_caixa& Caixa() {
  static const t_caixa caixa = [] {
    t_caixa c = Mapes();
    // As root, namespaces alone; otherwise (or if root may not make them: a sandbox within a
    // sandbox), inside a user namespace, where this process's own ids are mapped to themselves.
    if (geteuid() == 0) {
      c.motiu = Prova(ARREL, c);
      if (c.motiu.empty()) c.mode = ARREL;
    }
    if (c.mode == SENSE) {
      c.motiu = Prova(USUARI, c);
      if (c.motiu.empty()) c.mode = USUARI;
    }
    return c;
  }();
  return caixa;
}

// Set once a robot's sandbox could not be made: from then on, the kind Caixa finds.
std::atomic<bool> caixa_refusada{false};

// The kind of sandbox to start a robot in. Until one is refused, the first kind that may work
// is made for the robot itself, not first for a trial of its own: a match of one game would
// otherwise make a third sandbox for every two robots.
t_mode ModeCaixa() {
  if (caixa_refusada) return Caixa().mode;
  return geteuid() == 0 ? ARREL : USUARI;
}

// The folders and files directly in /tmp or /dev/shm that the command line names (as themselves
// or as a path inside them, also after an '=', or through a symbolic link): carried into the
// sandbox's own, at the same place.
void Portats(const std::vector<std::string>& ordre, std::vector<std::string>& camins,
             std::vector<bool>& dirs) {
  // What a named path stands for counts too: a symbolic link from elsewhere into /tmp (a build
  // folder under /tmp, a program linked from a test's folder) must not dangle inside.
  std::vector<std::string> mirats;
  for (const auto& arg : ordre) {
    mirats.push_back(arg);
    const size_t igual = arg.find('=');
    const std::string valor = igual == std::string::npos ? arg : arg.substr(igual + 1);
    char real[PATH_MAX];
    if (!valor.empty() && realpath(valor.c_str(), real) != nullptr && valor != real) {
      mirats.emplace_back(real);
    }
  }
  for (const auto& arg : mirats) {
    for (const std::string arrel : {"/tmp/", "/dev/shm/"}) {
      size_t on = arg.rfind(arrel, 0) == 0 ? 0 : arg.find("=" + arrel);
      if (on == std::string::npos) continue;
      if (on > 0 || arg[0] == '=') ++on;
      const size_t fi = arg.find('/', on + arrel.size());
      const std::string cami = arg.substr(on, fi == std::string::npos ? fi : fi - on);
      const std::string nom = cami.substr(arrel.size());
      struct stat st;
      if (nom.empty() || nom == "." || nom == ".." || stat(cami.c_str(), &st) != 0 ||
          !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) ||
          std::find(camins.begin(), camins.end(), cami) != camins.end() ||
          camins.size() >= static_cast<size_t>(kMaxPortats)) {
        continue;
      }
      camins.push_back(cami);
      dirs.push_back(S_ISDIR(st.st_mode));
    }
  }
}

// Where the exec may find the program, in order: itself if it names a path, else each folder of
// PATH (as execvpe looks).
std::vector<std::string> Camins(const std::string& programa) {
  if (programa.find('/') != std::string::npos) return {programa};
  std::vector<std::string> camins;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/bin:/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    camins.push_back((dir.empty() ? "." : dir) + "/" + programa);
  }
  return camins;
}

// Reads a small /proc file whole into `buf`; the number of bytes, or -1 if it is gone. With
// `fd`, the file stays open and is read again from its start next time: a robot is looked at
// on every tick, and opening and closing its files was most of what a look cost. The kernel
// hands such a file out a page at a time, each read as much as it has made up to a page, so a
// read well short of a page that left room in `buf` had it all: one call, not a second one to
// be told it ended. `cami` is read only to open the file: a caller reading through a descriptor
// kept open need not format it (a look would otherwise format every path every time).
ssize_t LlegeixProc(const char* cami, char* buf, size_t mida, int* fd = nullptr) {
  const int f = fd && *fd >= 0 ? *fd : open(cami, O_RDONLY | O_CLOEXEC);
  if (f < 0) return -1;
  ssize_t total = 0, n = 0;
  while (total < static_cast<ssize_t>(mida) - 1 &&
         (n = pread(f, buf + total, mida - 1 - static_cast<size_t>(total), total)) > 0) {
    total += n;
    if (n < 3072 && total < static_cast<ssize_t>(mida) - 1) break;
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

// A decimal number at `p`, as the kernel writes them: an optional minus and digits.
long Nombre(const char* p) {
  const bool menys = *p == '-';
  long n = 0;
  for (p += menys; *p >= '0' && *p <= '9'; ++p) n = n * 10 + (*p - '0');
  return menys ? -n : n;
}

bool LlegeixStat(const char* cami, t_stat& s, int* fd = nullptr) {
  char buf[1024];
  if (LlegeixProc(cami, buf, sizeof buf, fd) <= 0) return false;
  const char* obert = std::strchr(buf, '(');
  const char* tancat = std::strrchr(buf, ')');
  if (!obert || !tancat || tancat[1] == '\0') return false;
  s.nom.assign(obert + 1, tancat);
  // Fields from the state on, numbered as proc(5) numbers them: 3 state, 4 parent, 5 group,
  // 20 threads, 24 resident pages. Read on every look at a robot, so by hand, and only those
  // four converted.
  const char* p = tancat + 2;
  s.estat = *p;
  long camps[25] = {};
  for (int camp = 4; camp <= 24 && *p; ++camp) {
    while (*p && *p != ' ') ++p;
    if (*p == ' ') ++p;
    if (camp == 4 || camp == 5 || camp == 20 || camp == 24) camps[camp] = Nombre(p);
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
//
// Found asleep by the syscall file, a thread is off its CPU in an interruptible sleep, which the
// kernel never lets a thread enter, nor stay in, with a signal pending that it would take: for a
// process of one thread, that is all there is to know. With several, a SIGUSR1 sent to the
// process is pending for all of them while one is woken to take it, and `senyals` has the
// status file looked into as well.
bool Espera(pid_t pid, pid_t tid, const t_stat& s, t_ocupacio& ocupat, int* fds = nullptr,
            bool senyals = true) {
  char cami[64], buf[2048];
  auto Ocupat = [&](t_feina feina, long crida = 0) {
    ocupat = {feina, pid, tid, s.nom, s.estat, crida};
    return false;
  };
  if (s.estat == 'Z' || s.estat == 'X') return true;  // ended: it does nothing any more
  if (s.estat != 'S') return Ocupat(t_feina::ESTAT);
  if (!fds || *fds < 0) std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/syscall", pid, tid);
  if (LlegeixProc(cami, buf, sizeof buf, fds) <= 0) return true;  // gone
  const long crida = std::strtol(buf, nullptr, 10);
  if (!CridaDEspera(crida) || std::strncmp(buf, "running", 7) == 0) {
    return Ocupat(t_feina::CRIDA, crida);
  }
  if (!senyals) return true;
  std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/status", pid, tid);
  if (LlegeixProc(cami, buf, sizeof buf) <= 0) return true;
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
  if (pendent & usr1 & ~bloquejat & ~ignorat) return Ocupat(t_feina::SENYAL);
  return true;
}

// The robot's processes: itself and its descendants, through each thread's children. In a
// sandbox they are found from its init, so that orphans (which the init adopts) count; the init
// itself is not one of them.
std::vector<pid_t> Processos(const t_fill& fill) {
  const bool aillat = fill.aillat && fill.init > 0;
  std::vector<pid_t> tots{aillat ? fill.init : fill.pid};
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
      for (pid_t fp; in >> fp;) tots.push_back(fp);
    }
    closedir(d);
  }
  if (aillat) tots.erase(tots.begin());
  return tots;
}

// One look at every thread of every process of the robot. DORM only if all of them wait; then
// `fils` holds each thread with the times it has run, for a second look to compare.
t_estat MiraTot(const t_fill& fill, std::vector<t_fil>& fils, t_ocupacio& ocupat) {
  fils.clear();
  char cami[64], buf[256];
  for (pid_t pid : Processos(fill)) {
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

// Whether the robot, of one thread, is its sandbox's only process (or, without one, has no
// child): its children file empty and, in a sandbox, the init's only child the robot.
bool Sol(t_fill& fill) {
  char cami[64], buf[4096];
  int* fds = fill.fd_proc;
  if (fds[2] < 0) std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/children", fill.pid, fill.pid);
  if (LlegeixProc(cami, buf, sizeof buf, fds + 2) > 0) return false;
  if (!fill.aillat || fill.init <= 0) return true;
  if (fds[3] < 0)
    std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/children", fill.init, fill.init);
  // The robot's pid and a space, and nothing else.
  const ssize_t n = LlegeixProc(cami, buf, sizeof buf, fds + 3);
  char* fi = nullptr;
  return n > 1 && std::strtol(buf, &fi, 10) == fill.pid && fi == buf + n - 1 && *fi == ' ';
}

// Whether the robot has ended, waits for the arena, or is busy. A robot of one thread and no
// child (and, in a sandbox, no orphan left to its init) can only be woken by the arena, so one
// look at it is enough. With more threads or processes one may be about to wake another: they
// must be found waiting twice, none of them having run in between.
t_estat Estat(t_fill& fill) {
  const pid_t pid = fill.pid;
  int* fds = fill.fd_proc;
  t_ocupacio& ocupat = fill.ocupat;
  char cami[64];
  if (fds[0] < 0) std::snprintf(cami, sizeof cami, "/proc/%d/stat", pid);
  t_stat s;
  if (!LlegeixStat(cami, s, fds) || s.estat == 'Z' || s.estat == 'X') return ACABAT;
  if (s.fils == 1) {
    if (!Espera(pid, pid, s, ocupat, fds + 1, false)) return OCUPAT;
    if (Sol(fill)) return DORM;
  }
  std::vector<t_fil> primera, segona;
  if (MiraTot(fill, primera, ocupat) != DORM) return OCUPAT;
  if (MiraTot(fill, segona, ocupat) != DORM) return OCUPAT;
  const auto Igual = [](const t_fil& a, const t_fil& b) {
    return a.pid == b.pid && a.tid == b.tid && a.cops == b.cops;
  };
  if (!std::equal(primera.begin(), primera.end(), segona.begin(), segona.end(), Igual)) {
    ocupat = Ocupacio(t_feina::FILS);
    return OCUPAT;
  }
  return DORM;
}

// The timer slack the arena started with, which its robots get back.
long HolguraInicial() {
  static const long holgura = prctl(PR_GET_TIMERSLACK);
  return holgura;
}

// Waits `espera` nanoseconds, or less if the robot writes meanwhile (it writes as it finishes);
// the next wait is twice as long, up to a millisecond. A robot usually answers within tens of
// microseconds: look again soon, then less often. The kernel lets a timed wait run late by the
// thread's timer slack, 50 us unless changed, which would add to most ticks: a thread that
// waits for robots asks for 1 us.
void Dorm(const t_fill& fill, long& espera) {
  thread_local bool precis = false;
  if (!precis) {
    HolguraInicial();
    prctl(PR_SET_TIMERSLACK, 1000);
    precis = true;
  }
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
// of its group, then reap it. In a sandbox, its init is ended, which ends every process left in
// it, and reaped; the robot's status and resource use (its own and its processes') are those the
// init sent, or, if it sent none, the init's own (a SIGKILL, and what it reaped).
void Recull(t_fill& fill, const t_final* final = nullptr) {
  int estat = 0;
  if (!fill.aillat) {
    Envia(fill.pid, SIGKILL, true);
    if (wait4(fill.pid, &estat, 0, &fill.us) == fill.pid) fill.estat = estat;
    return;
  }
  if (fill.init > 0) {
    Envia(fill.init, SIGKILL);
    pid_t r;
    while ((r = wait4(fill.init, &estat, 0, &fill.us)) < 0 && errno == EINTR) {
    }
    if (r != fill.init) estat = W_EXITCODE(0, SIGKILL);
    fill.init = -1;
  } else {
    estat = W_EXITCODE(0, SIGKILL);
  }
  fill.estat = final ? final->estat : estat;
  if (final) fill.us = final->us;
  Tanca(fill.control);
}

// Whether the robot itself has ended (reaped or not).
bool RobotAcabat(const t_fill& fill) {
  if (fill.pidfd >= 0) {
    pollfd p{fill.pidfd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }
  char cami[64];
  std::snprintf(cami, sizeof cami, "/proc/%d/stat", fill.pid);
  t_stat s;
  return fill.pid <= 0 || !LlegeixStat(cami, s) || s.estat == 'Z' || s.estat == 'X';
}

// In a sandbox: true once the robot's status is known (waiting up to `ms` for it), the init
// reaped and the status in `fill.estat`: the one the init sent or, if its channel ended without
// one, the init's own.
bool EstatDeLInit(t_fill& fill, int ms) {
  if (fill.control < 0) {
    Recull(fill);
    return true;
  }
  pollfd p{fill.control, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  t_final final{};
  ssize_t n;
  while ((n = recv(fill.control, &final, sizeof final, MSG_WAITALL)) < 0 && errno == EINTR) {
  }
  Recull(fill, n == static_cast<ssize_t>(sizeof final) ? &final : nullptr);
  return true;
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

std::string SenseAillament() {
  return Caixa().mode == SENSE ? Caixa().motiu : "";
}

namespace {

// What the children's raw system calls point into: kept alive from before the clone until the
// exec has been seen.
struct t_preparat {
  std::vector<std::string> llocs, portats, fd_portats;
  std::vector<bool> dirs;
  std::vector<char*> camins, args, args_sh, entorn;
};

// The program's places, arguments, environment (with the robot's `marca`) and carried-in paths,
// for the children; `p` holds what `c` points into.
void Prepara(t_crida& c, t_preparat& p, const t_engegada& engegada, const std::string& marca) {
  p.llocs = Camins(engegada.ordre[0]);
  p.args_sh = {const_cast<char*>("/bin/sh"), nullptr};
  for (auto& l : p.llocs) p.camins.push_back(l.data());
  p.camins.push_back(nullptr);
  for (const auto& a : engegada.ordre) p.args.push_back(const_cast<char*>(a.c_str()));
  p.args.push_back(nullptr);
  p.args_sh.insert(p.args_sh.end(), p.args.begin() + 1, p.args.end());
  c.camins = p.camins.data();
  c.args = p.args.data();
  c.args_sh = p.args_sh.data();
  for (char** v = environ; *v; ++v) {
    if (std::strncmp(*v, "ARENA_ROBOT=", 12) != 0) p.entorn.push_back(*v);
  }
  p.entorn.push_back(const_cast<char*>(marca.c_str()));
  p.entorn.push_back(nullptr);
  c.entorn = p.entorn.data();
  c.mascara_robot = Conjunt(SIGUSR1);
  c.holgura = HolguraInicial();
  c.mapa_uid = Mapes().mapa_uid.c_str();
  c.mapa_gid = Mapes().mapa_gid.c_str();
  c.mida_uid = static_cast<long>(Mapes().mapa_uid.size());
  c.mida_gid = static_cast<long>(Mapes().mapa_gid.size());
  c.shm = access("/dev/shm", F_OK) == 0;
  if (c.mode != SENSE) Portats(engegada.ordre, p.portats, p.dirs);
  for (size_t i = 0; i < p.portats.size(); ++i) {
    p.fd_portats.push_back("/proc/self/fd/" + std::to_string(kPortat + static_cast<int>(i)));
  }
  for (size_t i = 0; i < p.portats.size(); ++i) {
    c.portats[i] = p.portats[i].c_str();
    c.fd_portats[i] = p.fd_portats[i].c_str();
    c.dir_portats[i] = p.dirs[i];
  }
  c.n_portats = static_cast<int>(p.portats.size());
}

// Clones the sandbox's init (or forks the robot, without a sandbox); the clone's errno stays.
pid_t Llanca(t_crida& c, t_mode mode, const t_piles& piles) {
  // A robot must not die of a signal that comes before it has installed its handler: SIGUSR1
  // stays blocked across the exec, and pending, until the robot unblocks it. The init takes no
  // signal at all: every one is blocked from before the clone.
  sigset_t bloquejats, abans;
  if (mode == SENSE) {
    sigemptyset(&bloquejats);
    sigaddset(&bloquejats, SIGUSR1);
  } else {
    sigfillset(&bloquejats);
  }
  pthread_sigmask(SIG_BLOCK, &bloquejats, &abans);
  pid_t pid;
  if (mode == SENSE) {
    c.pare = getpid();
    pid = static_cast<pid_t>(Engendra(&ExecutaRobotSol, piles.robot(), &c));
  } else {
    c.inici = Inici().empty() ? nullptr : Inici().c_str();
    c.pila_robot = piles.robot();
    pid = Clona(c, Flags(mode), piles.inici);
  }
  const int error_clone = errno;
  pthread_sigmask(SIG_SETMASK, &abans, nullptr);
  errno = error_clone;
  return pid;
}

// Once the exec was seen to fail (`avisat`, with `a` its word) or not: the robot's pid from its
// init, its pidfd, the word to go on; or the reason it could not be started.
bool Conclou(t_fill& fill, const t_engegada& engegada, t_mode mode, pid_t pid, bool avisat,
             const t_avis& a, int control, bool& refusada) {
  if (mode == SENSE) {
    fill.pid = pid;
  } else {
    fill.init = pid;
    fill.control = control;
    // The robot is the init's first child, and stays its child until we say we have its pid.
    char cami[64], buf[256];
    std::snprintf(cami, sizeof cami, "/proc/%d/task/%d/children", pid, pid);
    if (!avisat && LlegeixProc(cami, buf, sizeof buf) > 0) fill.pid = std::atoi(buf);
    if (fill.pid > 0) fill.pidfd = static_cast<int>(syscall(SYS_pidfd_open, fill.pid, 0));
    const char via = 1;
    if (fill.pid > 0 && write(fill.control, &via, 1) != 1) fill.pid = -1;
    if (!avisat && fill.pid <= 0) {
      refusada = true;
      Atura(fill);
      fill.error = Motiu(t_causa::NO_EXECUTA, 0, engegada.ordre[0]);
      return false;
    }
  }
  if (mode == SENSE) fill.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (avisat) {
    const std::string marca = fill.marca;
    Atura(fill);
    fill.error = a.etapa == E_EXEC
                     ? Motiu(t_causa::NO_EXECUTA, a.error, engegada.ordre[0])
                     : Motiu(t_causa::NO_ENGEGA, 0,
                             "cannot make " + engegada.ordre[0] + "'s sandbox: " + DiuAvis(a));
    fill.marca = marca;
    refusada = a.etapa != E_EXEC && mode != SENSE;
    return false;
  }
  return true;
}

// A robot's start under way: what its children read until the robot has exec'd (they share our
// memory until then), and our ends of its pipes until the robot's are taken.
struct t_arrencada {
  t_crida c;
  t_preparat preparat;
  t_piles piles;
  int fds[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
  int* in = fds;        // in[0] the robot's standard input, in[1] ours
  int* out = fds + 2;   // out[0] ours, out[1] the robot's standard output
  int* avis = fds + 4;  // the exec's error, if it fails
  int& err = fds[6];
  int* control = fds + 7;  // control[0] ours, control[1] the init's
  pid_t pid = -1;
  t_mode mode = SENSE;
  ~t_arrencada() {
    for (int& fd : fds) Tanca(fd);
  }
};

// Begins the robot's start in a sandbox of kind `mode` (or in none): its pipes made and its
// children cloned, our copies of their ends closed. The robot may not have exec'd yet:
// EsperaExec waits for it. `refusada` says whether a failure was the sandbox's, not the robot's
// own.
bool Comenca(t_arrencada& a, t_fill& fill, const t_engegada& engegada, t_mode mode,
             bool& refusada) {
  fill = t_fill{};
  refusada = false;
  if (mode == SENSE) FesteAdoptiu();
  fill.aillat = mode != SENSE;
  // Everything the children need is made before the clone: between the clone and the exec they
  // only make raw system calls (see t_crida).
  t_crida& c = a.c;
  c.mode = a.mode = mode;
  Prepara(c, a.preparat, engegada, fill.marca = NouMarca());
  if (!a.piles.inici) {
    fill.error = Motiu(t_causa::NO_ENGEGA, 0, std::string("mmap: ") + std::strerror(errno));
    return false;
  }
  int *in = a.in, *out = a.out, *avis = a.avis, *control = a.control;
  auto Falla = [&](const std::string& que) {
    fill.error = Motiu(t_causa::NO_ENGEGA, 0, que + ": " + std::strerror(errno));
    for (int& fd : a.fds) Tanca(fd);
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
  if (mode != SENSE && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
    return Falla("socketpair");
  }
  AfegeixFlag(out[0], O_NONBLOCK);
  if (engegada.sortida_no_bloquejant) AfegeixFlag(out[1], O_NONBLOCK);
  if (!engegada.err.empty() &&
      (a.err = open(engegada.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0) {
    return Falla(engegada.err);
  }
  if (!engegada.previ.empty()) {
    const std::string& previ = engegada.previ;
    fcntl(out[1], F_SETPIPE_SZ, static_cast<int>(previ.size()));
    if (write(out[1], previ.data(), previ.size()) != static_cast<ssize_t>(previ.size())) {
      return Falla("pipe");
    }
  }
  if (engegada.max_fitxer_mib > 0) {
    c.fitxer.rlim_cur = c.fitxer.rlim_max = static_cast<rlim_t>(engegada.max_fitxer_mib) << 20;
  }
  c.in = in[0];
  c.out = out[1];
  c.err = a.err;
  c.avis = avis[1];
  c.control = control[1];

  a.pid = Llanca(c, mode, a.piles);
  if (a.pid < 0) {
    refusada = mode != SENSE;
    return Falla(mode == SENSE ? "fork" : "clone");
  }
  // Also here, so that the group exists whichever runs first.
  if (mode == SENSE) setpgid(a.pid, a.pid);
  // Closed before another robot's start begins: its children must not hold this robot's pipes.
  Tanca(in[0]);
  Tanca(out[1]);
  Tanca(avis[1]);
  Tanca(a.err);
  Tanca(control[1]);
  return true;
}

// Ends a start that Comenca began: waits until the robot has exec'd (or its exec or sandbox
// failed), and takes our ends of its pipes.
bool EsperaExec(t_arrencada& a, t_fill& fill, const t_engegada& engegada, bool& refusada) {
  t_avis avis{};
  ssize_t n;
  while ((n = read(a.avis[0], &avis, sizeof avis)) < 0 && errno == EINTR) {
  }
  Tanca(a.avis[0]);
  fill.entrada = std::exchange(a.in[1], -1);
  fill.sortida = std::exchange(a.out[0], -1);
  return Conclou(fill, engegada, a.mode, a.pid, n == static_cast<ssize_t>(sizeof avis), avis,
                 std::exchange(a.control[0], -1), refusada);
}

// Where a robot's start in a sandbox was refused before any sandbox had been (`provisional`):
// what this machine allows is found out, and the robot started again in it, or without one.
// Otherwise the failure stands.
bool TornaAEngegar(t_fill& fill, const t_engegada& engegada, t_mode mode, bool refusada,
                   bool provisional) {
  if (mode != SENSE && (!refusada || !provisional)) return false;
  if (refusada) {
    caixa_refusada = true;
    mode = Caixa().mode;
  }
  static std::once_flag dit;
  if (mode == SENSE && engegada.aillat) {
    std::call_once(dit, [] {
      std::fprintf(stderr, "%s: robots run without a sandbox: %s\n", program_invocation_short_name,
                   Caixa().motiu.c_str());
    });
  }
  t_arrencada a;
  return Comenca(a, fill, engegada, mode, refusada) && EsperaExec(a, fill, engegada, refusada);
}

}  // namespace

bool Engega(t_fill& fill, const t_engegada& engegada) {
  return EngegaJunts({&fill}, {engegada})[0];
}

std::vector<bool> EngegaJunts(const std::vector<t_fill*>& fills,
                              const std::vector<t_engegada>& engegades) {
  const size_t n = fills.size();
  std::vector<bool> ok(n, false), provisional(n), refusada(n), comencat(n, false);
  std::vector<t_mode> modes(n);
  std::vector<std::unique_ptr<t_arrencada>> arrencades(n);
  // Every start is begun before the first is waited for: a robot's sandbox is made, and the
  // robot execs, while the next one's is being made.
  for (size_t i = 0; i < n; ++i) {
    const t_engegada& e = engegades[i];
    if (e.ordre.empty()) continue;
    // Until a sandbox is refused, the kind tried is provisional (see TornaAEngegar).
    provisional[i] = e.aillat && !caixa_refusada;
    modes[i] = e.aillat ? ModeCaixa() : SENSE;
    if (modes[i] == SENSE) continue;
    arrencades[i] = std::make_unique<t_arrencada>();
    bool r = false;  // a vector<bool> element cannot be bound to a reference
    comencat[i] = Comenca(*arrencades[i], *fills[i], e, modes[i], r);
    refusada[i] = r;
  }
  for (size_t i = 0; i < n; ++i) {
    const t_engegada& e = engegades[i];
    if (e.ordre.empty()) {
      *fills[i] = t_fill{};
      fills[i]->error = Motiu(t_causa::NO_ENGEGA, 0, "no program given");
      continue;
    }
    bool r = refusada[i];
    if (comencat[i]) {
      ok[i] = EsperaExec(*arrencades[i], *fills[i], e, r);
      arrencades[i].reset();
    }
    if (!ok[i]) ok[i] = TornaAEngegar(*fills[i], e, modes[i], r, provisional[i]);
  }
  return ok;
}

void Drena(t_fill& fill) {
  // At most a megabyte a call, so a robot that writes without end cannot keep us here. A read
  // that did not fill the buffer emptied the pipe: what comes after it is read next time, as it
  // would be had it come a moment later.
  char buf[65536];
  for (int i = 0; i < 16 && fill.sortida >= 0; ++i) {
    const ssize_t n = read(fill.sortida, buf, sizeof buf);
    if (n > 0) {
      fill.rebut.append(buf, static_cast<size_t>(n));
      fill.bytes_rebuts += static_cast<size_t>(n);
      fill.adormit = false;
      if (static_cast<size_t>(n) < sizeof buf) break;
    } else if (n == 0) {
      Tanca(fill.sortida);
    } else if (errno != EINTR) {
      break;
    }
  }
  Talla(fill);
}

void Senyala(t_fill& fill) {
  fill.adormit = false;
  if (fill.estat < 0) EnviaRobot(fill, SIGUSR1);
}

bool Escriu(t_fill& fill, const std::string& dades, int ms) {
  fill.adormit = false;
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
  fill.ocupat = {};
  fill.passat = {};
  fill.adormit = false;
  for (int volta = 0;; ++volta) {
    // Input still waiting means the robot has not finished: no need to look into /proc, which
    // costs CPU that the robots, and the other matches of a tournament, need more. Now and then
    // it is looked at all the same, to see a robot that has ended or does not read.
    const bool llegit = PipaBuida(fill.entrada);
    if (!llegit && volta % 8 != 7 && fill.estat < 0 && Resta(limit) > 0 && !interrupcio) {
      Drena(fill);
      if (fill.bytes_rebuts - abans > max_bytes) return false;
      Dorm(fill, espera);
      continue;
    }
    // A robot that has ended will read nothing more, whatever is left in its pipe. What it
    // wrote before it went to sleep is in the pipe by the time it is seen asleep: read after.
    const t_estat estat = fill.estat >= 0 ? ACABAT : Estat(fill);
    Drena(fill);
    if (estat == ACABAT || (estat == DORM && (llegit || PipaBuida(fill.entrada)))) {
      fill.ocupat = {};
      fill.adormit = estat == DORM && fill.bytes_rebuts - abans <= max_bytes;
      return true;
    }
    if (fill.bytes_rebuts - abans > max_bytes) return false;
    if (estat == DORM) fill.ocupat = Ocupacio(t_feina::ENTRADA);
    if (Resta(limit) == 0 || interrupcio) return false;
    // A robot that keeps busy may be growing: its size is looked at every 50 ms meanwhile.
    if (limits && Rellotge::now() >= propera_mida) {
      fill.passat = PassaLimits(fill, *limits);
      if (fill.passat.causa != t_causa::CAP) return false;
      propera_mida = Rellotge::now() + std::chrono::milliseconds(50);
    }
    Dorm(fill, espera);
  }
}

t_consum Consum(t_fill& fill) {
  t_consum c;
  if (fill.pid <= 0 || fill.estat >= 0) return c;
  static const long pagina_kib = sysconf(_SC_PAGESIZE) / 1024;
  char cami[64];
  if (fill.fd_proc[0] < 0) std::snprintf(cami, sizeof cami, "/proc/%d/stat", fill.pid);
  t_stat s;
  if (LlegeixStat(cami, s, fill.fd_proc) && s.fils == 1 && Sol(fill)) {
    // Alone, as most robots are: its own stat says it all, read on the descriptors of its looks.
    c.processos = s.estat == 'Z' ? 0 : 1;
    c.memoria_kib = c.processos * s.rss * pagina_kib;
  } else {
    // A process that ended and was not waited for counts too: it still holds its place in the
    // process table, and a robot that never waits could otherwise fill it past any limit.
    for (pid_t pid : Processos(fill)) {
      std::snprintf(cami, sizeof cami, "/proc/%d/stat", pid);
      if (!LlegeixStat(cami, s)) continue;
      ++c.processos;
      c.memoria_kib += s.rss * pagina_kib;
    }
  }
  // In a sandbox, what its own /tmp and /dev/shm hold is memory too. Their file systems are
  // kept open from the first look on: a path through /proc/PID/root costs a walk each time.
  if (fill.aillat) {
    const char* llocs[2] = {"tmp", "dev/shm"};
    for (int i = 0; i < 2; ++i) {
      if (fill.fd_tmp[i] < 0) {
        std::snprintf(cami, sizeof cami, "/proc/%d/root/%s", fill.pid, llocs[i]);
        fill.fd_tmp[i] = open(cami, O_PATH | O_DIRECTORY | O_CLOEXEC);
      }
      struct statfs fs;
      if (fill.fd_tmp[i] >= 0 && fstatfs(fill.fd_tmp[i], &fs) == 0 &&
          fs.f_type == 0x01021994 /* TMPFS_MAGIC */) {
        c.memoria_kib += static_cast<long>((fs.f_blocks - fs.f_bfree) * fs.f_bsize / 1024);
      }
    }
  }
  return c;
}

t_motiu PassaLimits(t_fill& fill, const t_limits& limits) {
  if (limits.memoria_mib <= 0 && limits.processos <= 0) return {};
  const t_consum c = Consum(fill);
  if (limits.memoria_mib > 0 && c.memoria_kib > limits.memoria_mib * 1024) {
    return Motiu(t_causa::MEMORIA, limits.memoria_mib);
  }
  if (limits.processos > 0 && c.processos > limits.processos) {
    return Motiu(t_causa::PROCESSOS, limits.processos);
  }
  return {};
}

bool EsperaFi(t_fill& fill, int ms) {
  // Just found asleep and sent nothing since: only a doing of its own after that look could have
  // ended it, which a look a moment later may or may not see; the next tick's will.
  if (ms == 0 && fill.adormit && fill.estat < 0) return false;
  const auto limit = Rellotge::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Drena(fill);
    if (fill.estat >= 0) return true;
    if (fill.aillat) {
      // The init sends the status as soon as it has reaped the robot: once the robot is seen
      // ended, the status is a moment away.
      if (EstatDeLInit(fill, RobotAcabat(fill) ? 2000 : 0)) {
        Drena(fill);
        return true;
      }
    } else {
      if (fill.pid <= 0) return false;
      // Seen without reaping first, so that its id still names its group when the group is
      // ended.
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(fill.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
      }
      if (info.si_pid == fill.pid) {
        Recull(fill);
        Drena(fill);
        return true;
      }
    }
    if (Resta(limit) == 0) return false;
    pollfd p[3] = {{fill.pidfd, POLLIN, 0}, {fill.sortida, POLLIN, 0}, {fill.control, POLLIN, 0}};
    // Without a pidfd nothing wakes us when the robot ends: look again every 10 ms.
    poll(p, 3, fill.pidfd >= 0 ? Resta(limit) : std::min(Resta(limit), 10));
  }
}

void Atura(t_fill& fill, int sig) {
  if (fill.aillat) {
    if (fill.estat < 0 && fill.pid > 0) {
      // The robot goes first, so that its init reaps it and reports what it used: ended with
      // its init, it would be counted as having used nothing. Another signal than SIGKILL
      // gives it two seconds to end by itself; a status the init has already sent is its own.
      EnviaRobot(fill, sig);
      EsperaFi(fill, 2000);
    }
    // The init's end ends every process left in the sandbox.
    if (fill.estat < 0 || fill.init > 0) Recull(fill);
  } else {
    if (fill.pid > 0 && fill.estat < 0) {
      Envia(fill.pid, sig);
      // Another signal than SIGKILL gives it two seconds to end by itself.
      if (sig == SIGKILL || !EsperaFi(fill, 2000)) {
        Envia(fill.pid, SIGKILL);
        Recull(fill);
      }
    }
    if (fill.pid > 0) Escombra(fill.pid, fill.marca);
  }
  Drena(fill);
  Tanca(fill.entrada);
  Tanca(fill.sortida);
  Tanca(fill.pidfd);
  Tanca(fill.control);
  for (int& fd : fill.fd_proc) Tanca(fd);
  for (int& fd : fill.fd_tmp) Tanca(fd);
}

std::string ComAcaba(int estat) {
  return Descriu(Acabament(estat));
}

}  // namespace arena
