// A hostile robot, for the sandbox's tests: it plays quietly (asks for nothing, answers nothing,
// ends at ExitRobot) after doing what its first argument says. Every mode is bounded: what it
// starts ends by itself within 20 s, and a fork bomb has at most 121 processes.
//   senyala-pare SIG   signals its parent (the arena, without a sandbox) with SIG
//   victima TOKEN      only plays: the others' target, found by its command line
//   mata TOKEN         kills the victim of the same TOKEN
//   injecta TOKEN      writes ExitRobot into the victim's input and a Name into its output
//   dimoni TOKEN       leaves a daemon: a double fork, a new session, an empty environment
//   bomba TOKEN        a fork bomb of new sessions and empty environments: 3 children a
//                      process, 4 generations
//   menjador MIB TOKEN a grandchild in a session of its own that touches MIB MiB
//   golafre MIB        touches MIB MiB itself, alone and of one thread
//   fds                ends with status 3 if it has a descriptor above 2
//   fitxers TOKEN      leaves /tmp/hostil-TOKEN and /dev/shm/hostil-TOKEN (status 4 if it cannot)
//   shm MIB TOKEN      writes MIB MiB to /dev/shm/hostil-TOKEN.N, 50 MiB a file
//   tmp MIB TOKEN      the same in /tmp
//   gran TOKEN         writes 2 MiB to /tmp/hostil-TOKEN, after checking it may leave no core
//                      file (status 6 if it may)
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  for (std::string a; std::getline(f, a, '\0');) args.push_back(a);
  return args;
}

// The victims of `token` this robot can see in /proc.
std::vector<pid_t> Victimes(const std::string& token) {
  std::vector<pid_t> victimes;
  DIR* d = opendir("/proc");
  if (!d) return victimes;
  while (const dirent* e = readdir(d)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0 || pid == getpid()) continue;
    const auto args = Arguments(pid);
    if (args.size() >= 3 && args[1] == "victima" && args[2] == token) victimes.push_back(pid);
  }
  closedir(d);
  return victimes;
}

// Sleeps until SIGALRM ends it, at most `segons` from now.
[[noreturn]] void Dorm(unsigned segons) {
  signal(SIGALRM, SIG_DFL);
  alarm(segons);
  for (;;) pause();
}

// Waits, busy (so that the arena keeps looking at it and at its limits), for a byte on `fd`.
void EsperaByte(int fd) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  fcntl(fd, F_SETFL, O_NONBLOCK);
  char c;
  while (read(fd, &c, 1) != 1 && std::chrono::steady_clock::now() < limit) {
  }
  close(fd);
}

// Runs this program again as `args`, with an empty environment (and so without the arena's tag).
[[noreturn]] void Torna(std::vector<std::string> args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* entorn[] = {nullptr};
  execve("/proc/self/exe", argv.data(), entorn);
  _exit(1);
}

// A process of the bomb, of generation `generacio` (0 to 4): it leaves its session and forks
// three more of the next generation, each with an empty environment; then tells `avis`, if any.
[[noreturn]] void Bomba(int generacio, int avis, const std::string& token) {
  setsid();
  for (int i = 0; generacio < 4 && i < 3; ++i) {
    if (fork() == 0) Torna({"hostil", "bomba-g", std::to_string(generacio + 1), "-1", token});
  }
  if (avis >= 0 && write(avis, "x", 1) != 1) _exit(1);
  Dorm(20);
}

// Plays quietly: reads its input until ExitRobot or its end.
[[noreturn]] void Juga(const std::string& token, bool mata, bool injecta) {
  std::string pendent;
  char buf[4096];
  int lots = 0;
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) _exit(0);
    if (n < 0) continue;
    // The first batches: the victim started by now, if it can be seen at all.
    if ((mata || injecta) && ++lots <= 20) {
      for (pid_t v : Victimes(token)) {
        if (mata) kill(v, SIGKILL);
        if (injecta) {
          const std::string fd = "/proc/" + std::to_string(v) + "/fd/";
          const int in = open((fd + "0").c_str(), O_WRONLY | O_NONBLOCK);
          const int out = open((fd + "1").c_str(), O_WRONLY | O_NONBLOCK);
          if (in >= 0 && write(in, "ExitRobot\n", 10) < 0) _exit(1);
          if (out >= 0 && write(out, "Name Forjat\n", 12) < 0) _exit(1);
        }
      }
    }
    pendent.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pendent.find('\n')) != std::string::npos; pendent.erase(0, nl + 1)) {
      if (pendent.compare(0, nl, "ExitRobot") == 0) _exit(0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string token = argc > 2 ? argv[argc - 1] : "";
  signal(SIGPIPE, SIG_IGN);
  if (mode == "dorm") Dorm(20);
  if (mode == "bomba-g" && argc > 4) Bomba(std::atoi(argv[2]), std::atoi(argv[3]), token);
  if (mode == "senyala-pare" && argc > 2) {
    kill(getppid(), std::atoi(argv[2]));
  } else if (mode == "dimoni") {
    int tub[2];
    if (pipe(tub) != 0) return 1;
    if (fork() == 0) {
      close(tub[0]);
      setsid();
      if (fork() == 0) {
        if (write(tub[1], "x", 1) != 1) _exit(1);
        Torna({"hostil", "dorm", token});
      }
      _exit(0);
    }
    close(tub[1]);
    EsperaByte(tub[0]);
  } else if (mode == "bomba") {
    int tub[2];
    if (pipe(tub) != 0) return 1;
    if (fork() == 0) {
      close(tub[0]);
      Bomba(0, -1, token);
    }
    close(tub[1]);
    EsperaByte(tub[0]);  // busy until it is dropped, or for 10 s: nobody writes
  } else if (mode == "menjador" && argc > 3) {
    const size_t mida = std::strtoul(argv[2], nullptr, 10) << 20;
    int tub[2];
    if (pipe(tub) != 0) return 1;
    if (fork() == 0) {
      close(tub[0]);
      setsid();
      if (fork() == 0) {
        char* p = static_cast<char*>(std::malloc(mida));
        for (size_t i = 0; p && i < mida; i += 4096) p[i] = 1;
        if (write(tub[1], "x", 1) != 1) _exit(1);
        Dorm(20);
      }
      _exit(0);
    }
    close(tub[1]);
    EsperaByte(tub[0]);
  } else if (mode == "golafre" && argc > 2) {
    const size_t mida = std::strtoul(argv[2], nullptr, 10) << 20;
    static char* p = static_cast<char*>(std::malloc(mida));
    for (size_t i = 0; p && i < mida; i += 4096) p[i] = 1;
  } else if (mode == "fds") {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return 5;
    while (const dirent* e = readdir(d)) {
      const int fd = e->d_name[0] >= '0' && e->d_name[0] <= '9' ? std::atoi(e->d_name) : -1;
      if (fd > 2 && fd != dirfd(d)) return 3;
    }
    closedir(d);
  } else if ((mode == "shm" || mode == "tmp") && argc > 3) {
    const std::string bloc(1 << 20, 'x');
    const std::string dir = mode == "shm" ? "/dev/shm/" : "/tmp/";
    for (long mib = 0; mib < std::atol(argv[2]); ++mib) {
      std::ofstream f(dir + "hostil-" + token + "." + std::to_string(mib / 50), std::ios::app);
      f << bloc;
    }
  } else if (mode == "gran" && argc > 2) {
    rlimit nucli{};
    if (getrlimit(RLIMIT_CORE, &nucli) != 0 || nucli.rlim_cur != 0 || nucli.rlim_max != 0) return 6;
    std::ofstream f("/tmp/hostil-" + token);
    const std::string mib(1 << 20, 'x');
    for (int k = 0; k < 2; ++k) f << mib << std::flush;
  } else if (mode == "fitxers") {
    for (const std::string dir : {"/tmp/", "/dev/shm/"}) {
      std::ofstream f(dir + "hostil-" + token);
      if (!(f << "left behind\n")) return 4;
    }
  }
  Juga(token, mode == "mata", mode == "injecta");
}
