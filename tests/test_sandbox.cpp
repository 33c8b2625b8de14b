// Each robot in a sandbox of its own: hostile robots (tests/robots/hostil.cpp) that signal the
// arena, kill or write into the other robot, leave daemons, fork bombs and memory hogs behind
// them, look for inherited descriptors or leave files in /tmp and /dev/shm; the same as an
// ordinary user.
//
// Every hostile process carries a token of this test in its command line: what is left of them
// is found by it, and ended (only ever processes this test started). Each mode is bounded by
// construction (see hostil.cpp); a test that needs a sandbox this machine cannot make skips.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arena/partida.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

const std::string kHostil = HOSTIL_BIN;
const std::string kRobots = ROBOTS_DIR;

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

bool Existeix(const std::string& cami) {
  struct stat st;
  return lstat(cami.c_str(), &st) == 0;
}

// A token no other test process uses, for the command lines of one test's hostile robots.
std::string Token() {
  static std::atomic<int> n{0};
  return "t" + std::to_string(getpid()) + "x" + std::to_string(++n);
}

// A process's command line, or what of it could be read: the process may end while it is read,
// and a stream would throw on the error that read then gets.
std::string LlegeixCmdline(pid_t pid) {
  const int fd = open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  char buf[4096];
  for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, n);
  if (fd >= 0) close(fd);
  return text;
}

// The processes whose command line has `token` as an argument, from /proc.
std::vector<pid_t> AmbToken(const std::string& token) {
  std::vector<pid_t> pids;
  DIR* d = opendir("/proc");
  if (!d) return pids;
  while (const dirent* e = readdir(d)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    std::istringstream args(LlegeixCmdline(pid));
    for (std::string a; std::getline(args, a, '\0');) {
      if (a == token) {
        pids.push_back(pid);
        break;
      }
    }
  }
  closedir(d);
  return pids;
}

// Waits up to `ms` for `condicio`, looking every 10 ms.
template <class F>
bool EsperaQue(F condicio, int ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condicio()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    usleep(10000);
  }
  return true;
}

// Nothing carrying `token` is left (after a moment for the kernel to end what was killed).
// Whatever is left, from a process layer that failed, this test started: it is ended here.
void NoQuedaRes(const std::string& token) {
  std::vector<pid_t> queden;
  EsperaQue([&] { return (queden = AmbToken(token)).empty(); }, 3000);
  EXPECT_TRUE(queden.empty()) << queden.size() << " processes of " << token << " outlived it";
  for (pid_t p : AmbToken(token)) {
    if (p > 1) kill(p, SIGKILL);
  }
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

#define CAL_AILLAMENT()                                                              \
  do {                                                                               \
    const std::string per_que = SenseAillament();                                    \
    if (!per_que.empty()) GTEST_SKIP() << "no sandbox on this machine: " << per_que; \
  } while (0)

// The sandbox tests skip where no sandbox can be made; whether one can is asked of another
// program, so that a fault that takes every sandbox for impossible does not pass for a machine
// that cannot. unshare(1) makes the same namespaces and mounts a /proc and a /tmp in them.
TEST(Aillament, WhereTheMachineCanMakeASandboxTheArenaMakesOne) {
  const char* prova =
      "--pid --mount --fork --mount-proc sh -c 'mount -t tmpfs tmpfs /tmp' 2>/dev/null";
  const bool pot =
      std::system((std::string("unshare ") + prova).c_str()) == 0 ||
      std::system((std::string("unshare --user --map-root-user ") + prova).c_str()) == 0;
  if (!pot) GTEST_SKIP() << "unshare cannot make these namespaces here either";
  EXPECT_EQ(SenseAillament(), "");
}

// The arena program, started as from a shell (itself in no sandbox), its output and errors in
// files of `dir`.
struct t_arena {
  t_fill proces;
  std::string errors;
  std::string Sortida() const {
    std::string text;
    for (const auto& l : proces.linies) text += l + "\n";
    return text;
  }
};

t_arena Arena(const std::string& dir, const std::vector<std::string>& ordre) {
  t_arena a;
  a.errors = dir + "/stderr";
  t_engegada e;
  e.ordre = ordre;
  e.err = a.errors;
  e.aillat = false;
  EXPECT_TRUE(Engega(a.proces, e)) << Descriu(a.proces.error);
  return a;
}

// What the summary says of robot `nom`: its status, the last column.
std::string EstatDe(const std::string& sortida, const std::string& nom) {
  const size_t on = sortida.find("\n" + nom + " ");
  if (on == std::string::npos) return "(not in the summary)";
  const std::string linia = sortida.substr(on + 1, sortida.find('\n', on + 1) - on - 1);
  return linia.substr(linia.rfind("  ") + 2);
}

// Waits for the arena to end; one that does not within `ms` is killed (a failure).
std::string Acaba(t_arena& a, int ms) {
  if (!EsperaFi(a.proces, ms)) {
    ADD_FAILURE() << "the arena did not end";
    kill(a.proces.pid, SIGCONT);
  }
  Atura(a.proces);
  return ComAcaba(a.proces.estat);
}

// A robot that exits while a child of its keeps its output open has ended all the same: it is
// dropped with its status in the exchange where it exits, not taken for one that is late, and
// its child ends with it, in a sandbox or without.
TEST(Formes, ARobotThatExitsWhileItsChildKeepsItsOutputOpenIsDroppedAndTakesItAlong) {
  for (const bool aillat : {false, true}) {
    if (aillat && !SenseAillament().empty()) continue;
    const std::string token = Token();
    t_config c;
    c.durada = 1;
    c.aillat = aillat;
    c.robots = {std::string(ROBOTS_DIR) + "/orfe.sh " + token, TAVIK_BIN, kDiana};
    const t_resultat r = JugaPartida(c);
    EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "dropped: exited with status 3") << aillat;
    EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "alive") << aillat;
    EXPECT_NE(std::find(r.transcripcio.begin(), r.transcripcio.end(),
                        "0.00 orfe.sh#1 ! dropped: exited with status 3"),
              r.transcripcio.end())
        << aillat;
    NoQuedaRes(token);
  }
}

// A robot asked to end with SIGTERM has its two seconds; one that ignores it is then killed, in
// a sandbox or without, and its status says so.
TEST(Formes, ARobotThatIgnoresTheSignalToEndIsKilledAfterItsGrace) {
  for (const bool aillat : {false, true}) {
    if (aillat && !SenseAillament().empty()) continue;
    for (const bool ignora : {false, true}) {
      t_engegada e;
      e.ordre = {"/bin/sh", "-c",
                 std::string(ignora ? "trap '' TERM; " : "") + "echo set; exec sleep 60"};
      e.aillat = aillat;
      t_fill robot;
      ASSERT_TRUE(Engega(robot, e)) << Descriu(robot.error);
      std::string linia;
      ASSERT_TRUE(LlegeixLinia(robot, linia));  // the trap is set
      const auto abans = std::chrono::steady_clock::now();
      Atura(robot, SIGTERM);
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - abans).count();
      const int esperat = ignora ? SIGKILL : SIGTERM;
      EXPECT_TRUE(WIFSIGNALED(robot.estat) && WTERMSIG(robot.estat) == esperat)
          << aillat << ignora << ": " << ComAcaba(robot.estat);
      if (ignora) {
        EXPECT_GE(s, 1.9) << aillat;  // it had its grace
      }
    }
  }
}

TEST(Aillament, TheArenaOutlivesARobotThatKillsStopsOrSignalsIt) {
  CAL_AILLAMENT();
  const t_dir dir;
  for (int sig : {SIGKILL, SIGSTOP, SIGUSR1, SIGUSR2, SIGALRM}) {
    const std::string m = dir.cami + "/m" + std::to_string(sig) + ".txt";
    t_arena a = Arena(dir, {ARENA_BIN, "--time", "1", "--transcript", m,
                            kHostil + " senyala-pare " + std::to_string(sig), "diana"});
    EXPECT_EQ(Acaba(a, 20000), "exited with status 0") << sigabbrev_np(sig);
    EXPECT_EQ(EstatDe(a.Sortida(), "hostil#1"), "alive") << a.Sortida();
    EXPECT_FALSE(Llegeix(m).empty()) << sigabbrev_np(sig);
    EXPECT_EQ(Llegeix(a.errors), "");
  }
}

t_config Duel(const std::string& mode_atacant, const std::string& token) {
  t_config c;
  c.durada = 2;
  c.robots = {kHostil + " victima " + token, kHostil + " " + mode_atacant + " " + token};
  return c;
}

TEST(Aillament, ARobotCannotKillTheOtherRobot) {
  CAL_AILLAMENT();
  const std::string token = Token();
  const t_resultat r = JugaPartida(Duel("mata", token));
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "alive");
  EXPECT_EQ(r.ticks, 40);
  NoQuedaRes(token);
}

TEST(Aillament, ARobotCannotWriteIntoTheOtherRobotsPipes) {
  CAL_AILLAMENT();
  const std::string token = Token();
  const t_resultat r = JugaPartida(Duel("injecta", token));
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");  // it was sent no ExitRobot but the arena's
  EXPECT_EQ(r.fitxes[0].nom, "hostil#1");              // and nobody named it
  for (const auto& l : r.transcripcio) EXPECT_EQ(l.find("Forjat"), std::string::npos) << l;
  NoQuedaRes(token);
}

TEST(Aillament, ADaemonThatClearsItsEnvironmentAndLeavesItsSessionEndsWithTheMatch) {
  CAL_AILLAMENT();
  const std::string token = Token();
  t_config c;
  c.durada = 1;
  c.robots = {kHostil + " dimoni " + token, kDiana};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  NoQuedaRes(token);
}

TEST(Aillament, AForkBombOfNewSessionsIsDroppedAndLeavesNothing) {
  CAL_AILLAMENT();
  const std::string token = Token();
  t_config c;
  c.durada = 2;
  c.limits.processos = 20;
  c.robots = {kHostil + " bomba " + token, kDiana};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "dropped: exceeded its process limit (20)");
  NoQuedaRes(token);
}

TEST(Aillament, AMemoryHogThatLeftTheRobotsGroupCountsAgainstItsLimit) {
  CAL_AILLAMENT();
  const std::string token = Token();
  t_config c;
  c.durada = 2;
  c.limits.memoria_mib = 100;
  c.robots = {kHostil + " menjador 300 " + token, kHostil + " golafre 300", kDiana};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "dropped: exceeded its memory limit (100 MiB)");
  // So does one that holds it itself, alone.
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "dropped: exceeded its memory limit (100 MiB)");
  NoQuedaRes(token);
}

// A robot may leave no core file, and writes no file past the limit it is given: the write that
// would is its end.
TEST(Aillament, ARobotWritesNoFileOverItsLimitAndNoCoreFile) {
  CAL_AILLAMENT();
  const std::string token = Token();
  t_config c;
  c.durada = 2;
  c.max_fitxer_mib = 1;
  c.robots = {kHostil + " gran " + token, kDiana};
  EXPECT_EQ(Descriu(JugaPartida(c).fitxes[0].desenllac), "dropped: killed by signal 25 (SIGXFSZ)");
  c.max_fitxer_mib = 2;
  EXPECT_EQ(Descriu(JugaPartida(c).fitxes[0].desenllac), "alive");
  NoQuedaRes(token);
}

TEST(Aillament, WhatARobotKeepsInItsDevShmOrTmpCountsAsItsMemory) {
  CAL_AILLAMENT();
  for (const std::string lloc : {"shm", "tmp"}) {
    const std::string token = Token();
    t_config c;
    c.durada = 2;
    c.limits.memoria_mib = 100;
    c.robots = {kHostil + " " + lloc + " 200 " + token, kDiana};
    const t_resultat r = JugaPartida(c);
    EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "dropped: exceeded its memory limit (100 MiB)")
        << lloc;
    for (int i = 0; i < 4; ++i) {
      const std::string cami =
          (lloc == "shm" ? "/dev/shm/hostil-" : "/tmp/hostil-") + token + "." + std::to_string(i);
      EXPECT_FALSE(Existeix(cami)) << cami;
      unlink(cami.c_str());
    }
  }
}

TEST(Aillament, ARobotHasNoDescriptorButZeroOneAndTwo) {
  const t_dir dir;
  // The arena is started with descriptors 10 and 251 open, as a shell may leave them.
  const std::string m = dir.cami + "/m.txt";
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no /bin/bash to open descriptor 251";
  t_arena a = Arena(dir, {"/bin/bash", "-c", "exec 10</dev/null 251</dev/null; exec \"$0\" \"$@\"",
                          ARENA_BIN, "--time", "1", "--transcript", m, kHostil + " fds", "diana"});
  EXPECT_EQ(Acaba(a, 20000), "exited with status 0");
  EXPECT_EQ(EstatDe(a.Sortida(), "hostil#1"), "alive") << a.Sortida();
  // And robots started by this process, which has descriptors of its own open.
  t_config c;
  c.durada = 1;
  c.robots = {kHostil + " fds", kHostil + " fds"};
  const int obert = open("/dev/null", O_RDONLY);  // without O_CLOEXEC
  ASSERT_GE(obert, 0);
  const t_resultat r = JugaPartida(c);
  close(obert);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "alive");
  // And by a process whose standard input is closed, where a robot's pipe may take its place.
  const int entrada = dup(0);
  ASSERT_GE(entrada, 0);
  close(0);
  const t_resultat sense = JugaPartida(c);
  dup2(entrada, 0);
  close(entrada);
  EXPECT_EQ(Descriu(sense.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(sense.fitxes[1].desenllac), "alive");
}

TEST(Aillament, WhatTheCommandLineNamesInTmpIsThereInside) {
  CAL_AILLAMENT();
  // Folders of /tmp named on the command line, the script in one and its files in others (as an
  // option's value, after '=', after a leading '=', itself or through a symbolic link from outside
  // /tmp): all are carried into the robot's fresh /tmp, or it does not play. The program it runs
  // is named there too: the build may be under /tmp as well.
  const t_dir programa, dades, enllacades, soles;
  const std::string enllac = "enllac-" + std::to_string(getpid());  // in the test's own folder
  {
    std::ofstream(programa.cami + "/robot.sh")
        << "test -f \"${1#f=}\" && test -f \"${2#--map=}\" && test -f \"${4#=}\" || exit 3\n"
        << "exec \"$3\"\n";
    std::ofstream(dades.cami + "/mapa") << "x\n";
    std::ofstream(soles.cami + "/mapa") << "z\n";
    std::ofstream(enllacades.cami + "/mapa") << "y\n";
    ASSERT_EQ(symlink(enllacades.cami.c_str(), enllac.c_str()), 0);
  }
  char aqui[PATH_MAX];
  ASSERT_NE(getcwd(aqui, sizeof aqui), nullptr);
  t_config c;
  c.durada = 1;
  c.robots = {"/bin/sh " + programa.cami + "/robot.sh f=" + dades.cami + "/mapa --map=" + aqui +
                  "/" + enllac + "/mapa " + TAVIK_BIN + " =" + soles.cami + "/mapa",
              kDiana};
  const t_resultat r = JugaPartida(c);
  unlink(enllac.c_str());
  ASSERT_EQ(r.fitxes.size(), 2u) << r.error_arena;
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
}

// Where a sandbox can be made, every robot gets one: it sees itself as the second process of a
// process tree of its own, after the sandbox's init, whatever happened to the others.
TEST(Aillament, EachRobotIsTheSecondProcessOfASandboxOfItsOwn) {
  CAL_AILLAMENT();
  const t_dir dir;
  t_config c;
  c.durada = 0.5;
  c.base_err = dir.cami + "/jo";
  c.robots = {kRobots + "/jo.sh " + TAVIK_BIN, kRobots + "/jo.sh " + CACADOR_BIN};
  const t_resultat r = JugaPartida(c);
  ASSERT_EQ(r.fitxes.size(), 2u) << r.error_arena;
  for (const auto& f : r.fitxes) EXPECT_EQ(Llegeix(f.err), "2\n") << f.nom;
}

// A match's robots are started side by side, the next one's sandbox made while the last one's
// robot execs: each still gets its own outcome, its own pipes, and its own end.
TEST(Aillament, RobotsStartedSideBySideKeepTheirOwnOutcomeAndPipes) {
  CAL_AILLAMENT();
  std::vector<t_engegada> e(4);
  e[0].ordre = {kRobots + "/no-such-robot"};
  e[1].ordre = {TAVIK_BIN};
  e[3].ordre = {TAVIK_BIN};  // e[2] names no program
  for (auto& x : e) x.aillat = true;
  std::vector<t_fill> f(4);
  const std::vector<bool> ok = EngegaJunts({&f[0], &f[1], &f[2], &f[3]}, e);
  EXPECT_EQ(ok, (std::vector<bool>{false, true, false, true}));
  EXPECT_EQ(Descriu(f[0].error),
            "cannot run " + kRobots + "/no-such-robot: No such file or directory");
  EXPECT_EQ(Descriu(f[2].error), "no program given");
  // Each robot answers what it alone was sent, after its four lines of start-up.
  for (int i : {3, 1}) {
    ASSERT_TRUE(f[i].aillat);
    ASSERT_TRUE(EnviaLot(f[i], std::string(i, 'x') + "\n"));
    std::string linia;
    for (int k = 0; k < 5; ++k) ASSERT_TRUE(LlegeixLinia(f[i], linia, 10000)) << i;
    EXPECT_EQ(linia, "Print Missatge desconegut!") << i;
    EXPECT_FALSE(LlegeixLinia(f[i], linia, 0)) << linia;
  }
  for (auto& x : f) Atura(x);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(Aillament, FilesInTmpAndDevShmAreGoneAfterTheMatch) {
  CAL_AILLAMENT();
  const std::string token = Token();
  t_config c;
  c.durada = 1;
  c.robots = {kHostil + " fitxers " + token, kHostil + " fitxers " + token};
  const t_resultat r = JugaPartida(c);
  // Each wrote its own: the second found no file of the first.
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "alive");
  for (const std::string dir : {"/tmp/", "/dev/shm/"}) {
    const std::string cami = dir + "hostil-" + token;
    EXPECT_FALSE(Existeix(cami)) << cami;
    unlink(cami.c_str());
  }
}

TEST(Aillament, WhereNoSandboxCanBeMadeTheArenaSaysSoOnceAndPlays) {
  // Root in a user namespace of its own, from which the arena is started so that it can make
  // neither kind of sandbox, and the reason it gives.
  const std::pair<std::string, std::string> casos[] = {
      // No user namespace below it, and no CAP_SYS_ADMIN.
      {"echo 0 > /proc/sys/user/max_user_namespaces && "
       "exec /usr/bin/setpriv --bounding-set=-sys_admin --inh-caps=-sys_admin \"$0\" \"$@\"",
       ""},
      // Part of /proc covered, as containers cover it, by a namespace above the arena's own: the
      // kernel mounts no fresh /proc below that, and a sandbox whose /proc showed the arena's
      // processes would be no sandbox.
      {"mount -t tmpfs none /proc/sys && "
       "exec /usr/bin/unshare --user --map-root-user --mount \"$0\" \"$@\"",
       "mounting /proc: "},
  };
  for (const auto& [ordre, motiu] : casos) {
    const t_dir dir;
    t_arena a = Arena(dir, {"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh",
                            "-c", ordre, ARENA_BIN, "--time", "1", "--transcript",
                            dir.cami + "/m.txt", kHostil + " victima x", kHostil + " victima y"});
    const std::string com = Acaba(a, 20000);
    const std::string errors = Llegeix(a.errors);
    if (a.Sortida().empty()) GTEST_SKIP() << "cannot take the sandbox away here: " << errors;
    EXPECT_EQ(com, "exited with status 0") << errors;
    const std::string text = "arena: robots run without a sandbox: ";
    EXPECT_EQ(errors.rfind(text, 0), 0u) << errors;
    EXPECT_NE(errors.find(motiu), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;  // once, for two robots
    EXPECT_EQ(EstatDe(a.Sortida(), "hostil#1"), "alive") << a.Sortida();
    EXPECT_EQ(EstatDe(a.Sortida(), "hostil#2"), "alive") << a.Sortida();
  }
}

TEST(Aillament, WithNoSandboxChosenTheArenaRunsRobotsAsPlainChildren) {
  const t_dir dir;
  const std::string token = Token();
  t_arena a = Arena(dir, {ARENA_BIN, "--no-sandbox", "--time", "1", "--transcript",
                          dir.cami + "/m.txt", kHostil + " senyala-pare 10", "diana"});
  EXPECT_EQ(Acaba(a, 20000), "exited with status 0");  // SIGUSR1 is ignored
  EXPECT_EQ(Llegeix(a.errors), "");                    // chosen: nothing to say
  t_fill robot;
  t_engegada e;
  e.ordre = {kHostil, "fitxers", token};
  e.aillat = false;
  ASSERT_TRUE(Engega(robot, e)) << Descriu(robot.error);
  EXPECT_FALSE(robot.aillat);
  EXPECT_TRUE(EnviaLot(robot, "ExitRobot\n"));
  ASSERT_TRUE(EsperaFi(robot, 10000));
  EXPECT_EQ(ComAcaba(robot.estat), "exited with status 0");
  Atura(robot);
  for (const std::string d : {"/tmp/", "/dev/shm/"}) {
    const std::string cami = d + "hostil-" + token;
    EXPECT_TRUE(Existeix(cami)) << cami;  // as before: nothing to keep it from the machine's
    unlink(cami.c_str());
  }
}

// A folder that user nobody can read and run from, with copies of the arena and the hostile
// robot, and one it can write to.
struct t_per_a_nobody {
  t_dir dir;
  std::string arena, hostil, sortida;
  t_per_a_nobody() {
    namespace fs = std::filesystem;
    chmod(dir.cami.c_str(), 0755);
    arena = dir.cami + "/arena";
    hostil = dir.cami + "/hostil";
    sortida = dir.cami + "/out";
    fs::copy_file(ARENA_BIN, arena);
    fs::copy_file(kHostil, hostil);
    chmod(arena.c_str(), 0755);
    chmod(hostil.c_str(), 0755);
    mkdir(sortida.c_str(), 0755);
    if (chown(sortida.c_str(), 65534, 65534) != 0) sortida.clear();
  }
};

TEST(Aillament, AsAnOrdinaryUserTheSandboxHoldsToo) {
  if (geteuid() != 0) GTEST_SKIP() << "becoming user nobody needs root";
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/setpriv";
  t_per_a_nobody n;
  ASSERT_FALSE(n.sortida.empty());
  const std::string token = Token();
  t_arena a = Arena(n.dir, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            n.arena, "--time", "1", "--transcript", n.sortida + "/m.txt",
                            n.hostil + " senyala-pare 9", n.hostil + " victima " + token,
                            n.hostil + " injecta " + token, n.hostil + " mata " + token});
  const std::string com = Acaba(a, 20000);
  const std::string errors = Llegeix(a.errors);
  if (errors.find("robots run without a sandbox") != std::string::npos) {
    GTEST_SKIP() << "no sandbox for an ordinary user here: " << errors;
  }
  EXPECT_EQ(com, "exited with status 0") << errors;
  for (const char* robot : {"hostil#1", "hostil#2", "hostil#3", "hostil#4"}) {
    EXPECT_EQ(EstatDe(a.Sortida(), robot), "alive") << a.Sortida();
  }
  EXPECT_FALSE(Llegeix(n.sortida + "/m.txt").empty());
  NoQuedaRes(token);
}

}  // namespace
