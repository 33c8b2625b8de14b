// The arena contains its robots and says what went wrong: robots of any shape (threads, helper
// processes, a shell that does not exec) play in lock-step, nothing they start outlives them,
// limits, signals to the arena, robots' standard error, and the arena's own arguments.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arena/partida.h"
#include "arena/resum.h"
#include "tests/executa.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

const std::string kRobots = ROBOTS_DIR;
const std::string kForma = FORMA_BIN;

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

bool Existeix(pid_t pid) {
  return pid > 0 && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0;
}

// The children of process `pid`, from /proc.
std::vector<pid_t> Fills(pid_t pid) {
  std::istringstream in(
      Llegeix("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
  std::vector<pid_t> fills;
  for (pid_t f; in >> f;) fills.push_back(f);
  return fills;
}

// Waits up to `ms` for `condicio`, looking every millisecond.
template <class F>
bool EsperaQue(F condicio, int ms = 10000) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condicio()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    usleep(1000);
  }
  return true;
}

TEST(Formes, ThreadsHelpersAndShellsPlayInLockStepAndReproducibly) {
  const t_dir dir;
  t_config c;
  c.llavor = 3;
  c.durada = 8;
  c.espera_ms = 5000;
  auto Juga = [&](const std::string& pids) {
    c.robots = {kForma + " fils", kForma + " proces",
                kRobots + "/embolcall.sh " + pids + " " + CACADOR_BIN, TAVIK_BIN};
    return JugaPartida(c);
  };
  const t_resultat u = Juga(dir.cami + "/u.pids");
  const t_resultat dos = Juga(dir.cami + "/dos.pids");
  for (const auto& f : u.fitxes) {
    EXPECT_TRUE(Descriu(f.desenllac) == "alive" || Descriu(f.desenllac) == "dead")
        << f.nom << ": " << Descriu(f.desenllac);
  }
  EXPECT_EQ(u.fitxes[0].nom, "forma#1");           // it gives itself no name
  EXPECT_EQ(u.fitxes[2].nom, "Cacador#3");         // the robot behind the shell named itself
  EXPECT_GT(u.transcripcio.size(), 160u * 4 * 2);  // Info and Radar every tick
  EXPECT_EQ(u.transcripcio, dos.transcripcio);
}

// A robot of two threads that is sent the wake-up signal and leaves it blocked in both: pending
// for ever, it is one that no thread would take, and the robot waiting on its input is asleep.
TEST(Formes, ARobotOfThreadsThatNeverTakesItsSignalPlaysInLockStep) {
  t_config c;
  c.durada = 2;
  c.espera_ms = 2000;  // seen as busy, it would be dropped after its first tick's two seconds
  c.robots = {kForma + " senyals", kDiana};
  EXPECT_EQ(Descriu(JugaPartida(c).fitxes[0].desenllac), "alive");
}

// Asleep in read(2) on a pipe of its own, its input read, a robot is done with its tick as when
// asleep in its sleep: it plays on, and its answer to each Info is taken in that Info's tick,
// never a tick late (the wake-up signal it had not yet taken would make it so).
TEST(Formes, ARobotWaitingOnADescriptorOfItsOwnAnswersInTheTickItIsSent) {
  t_config c;
  c.durada = 3;
  c.robots = {ENCALLAT_BIN, kDiana};
  for (const bool aillat : {true, false}) {
    c.aillat = aillat;
    const t_resultat r = JugaPartida(c);
    EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive") << aillat;
    int respostes = 0;
    for (const auto& l : r.transcripcio) {
      const std::string marca = " encallat#1 < Print ";
      const size_t on = l.find(marca);
      if (on == std::string::npos) continue;
      ++respostes;
      EXPECT_DOUBLE_EQ(std::stod(l.substr(0, on)), std::stod(l.substr(on + marca.size()))) << l;
    }
    EXPECT_EQ(respostes, r.ticks) << aillat;
  }
}

TEST(Contencio, NothingARobotStartsOutlivesItsMatch) {
  const t_dir dir;
  const std::string pids = dir.cami + "/pids";
  t_config c;
  c.durada = 1;
  // Without a sandbox: in one, the pids the script writes are its PID namespace's, not ours
  // (test_sandbox.cpp checks the same inside a sandbox, by command line).
  c.aillat = false;
  c.robots = {kRobots + "/embolcall.sh " + pids + " " + CACADOR_BIN, kDiana};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
  std::istringstream in(Llegeix(pids));
  std::vector<pid_t> deixats;
  for (pid_t p; in >> p;) deixats.push_back(p);
  // Two sleeps in the robot's group, one of them without the environment it was given, and one
  // that left the group for a session of its own.
  ASSERT_EQ(deixats.size(), 3u);
  for (pid_t p : deixats) EXPECT_FALSE(Existeix(p)) << p;
}

// The same where every pid begins with a 9: in a PID namespace of its own whose next pid is
// 9000, where this machine can make one. Whatever is left dies with the namespace.
TEST(Contencio, NothingARobotStartsOutlivesItsMatchWhateverItsPids) {
  const t_dir dir;
  const std::string pids = dir.cami + "/pids";
  const std::string robot = kRobots + "/embolcall.sh " + pids + " " + CACADOR_BIN;
  const std::string dit =
      Executa(dir.cami,
              "unshare --pid --fork --mount-proc sh -c 'echo 8999 > "
              "/proc/sys/kernel/ns_last_pid || exit 1; " ARENA_BIN " --no-sandbox --time 1 \"" +
                  robot + "\" diana >/dev/null; cat " + pids + "; for p in $(cat " + pids +
                  "); do [ -d /proc/$p ] && echo left; done; echo done'")
          .out;
  if (dit.find("done") == std::string::npos) GTEST_SKIP() << "no PID namespace of our own here";
  // Three pids, each beginning with a 9, then done: nothing was left.
  std::istringstream in(dit);
  std::vector<std::string> paraules;
  for (std::string w; in >> w;) paraules.push_back(w);
  ASSERT_EQ(paraules.size(), 4u) << dit;
  for (int k = 0; k < 3; ++k) EXPECT_EQ(paraules[k][0], '9') << dit;
  EXPECT_EQ(paraules[3], "done") << dit;
}

// The descriptors this process has open.
size_t Descriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

// The bytes of address space this process has mapped.
size_t Mapes() {
  std::istringstream in(Llegeix("/proc/self/maps"));
  size_t total = 0;
  for (std::string linia; std::getline(in, linia);) {
    const size_t guio = linia.find('-'), espai = linia.find(' ');
    total += std::stoull(linia.substr(guio + 1, espai - guio - 1), nullptr, 16) -
             std::stoull(linia.substr(0, guio), nullptr, 16);
  }
  return total;
}

TEST(Contencio, AMatchLeavesNoDescriptorOrMappingOfTheArenaOpen) {
  // Thousands of games are played by one process: a pipe left open per robot would end them,
  // and so, more slowly, would a robot's start-up stack left mapped.
  for (int k = 0; k < 3; ++k) {
    const bool aillat = k != 1;
    const size_t abans = Descriptors(), mapes = Mapes();
    t_config c;
    c.durada = 1;
    c.aillat = aillat;
    c.robots = {CACADOR_BIN, kDiana, "/nonexistent/robot"};
    const t_resultat r = JugaPartida(c);
    ASSERT_EQ(r.fitxes.size(), 3u) << r.error_arena;
    EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive");
    EXPECT_EQ(Descriptors(), abans) << "sandbox " << aillat;
#ifndef TAVIK_SANITIZE  // a sanitizer's runtime maps memory of its own as it goes
    // The first match maps what the process keeps for all (the sandbox's trial, the heap).
    if (k > 0) {
      EXPECT_EQ(Mapes(), mapes) << "sandbox " << aillat;
    }
#else
    (void)mapes;
#endif
  }
}

TEST(Contencio, ARobotOverItsLimitsIsDropped) {
  t_config c;
  c.durada = 2;
  c.limits.memoria_mib = 100;
  c.limits.processos = 5;
  c.robots = {kForma + " memoria", kForma + " processos", kForma + " fils", kForma + " zombis"};
  const t_resultat r = JugaPartida(c);
  EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "dropped: exceeded its memory limit (100 MiB)");
  EXPECT_EQ(Descriu(r.fitxes[1].desenllac), "dropped: exceeded its process limit (5)");
  EXPECT_EQ(Descriu(r.fitxes[2].desenllac), "alive");
  // Children that ended are processes still until they are waited for: not a way round it.
  EXPECT_EQ(Descriu(r.fitxes[3].desenllac), "dropped: exceeded its process limit (5)");
  // A limit is what a robot may have: at it, it plays on; one process over it, it is dropped.
  c.limits = {0, 1};
  c.robots = {kForma + " proces", kForma + " fils"};
  const t_resultat un = JugaPartida(c);
  EXPECT_EQ(Descriu(un.fitxes[0].desenllac), "dropped: exceeded its process limit (1)");
  EXPECT_EQ(Descriu(un.fitxes[1].desenllac), "alive");
  c.limits = {0, 2};
  EXPECT_EQ(Descriu(JugaPartida(c).fitxes[0].desenllac), "alive");
  // Memory is counted whole: a quarter over the limit is over it.
  c.limits = {100, 0};
  c.robots = {std::string(HOSTIL_BIN) + " golafre 125"};
  EXPECT_EQ(Descriu(JugaPartida(c).fitxes[0].desenllac),
            "dropped: exceeded its memory limit (100 MiB)");
  // Turned off, the same robots play on.
  c.robots = {kForma + " memoria", kForma + " processos", kForma + " fils"};
  c.limits = {0, 0};
  for (const auto& f : JugaPartida(c).fitxes) EXPECT_EQ(Descriu(f.desenllac), "alive") << f.nom;
  // A robot that grows while it plays is measured every tenth tick: one that starts a process in
  // its third tick is dropped in the tenth. (Its input opened again, a shell's read blocks.)
  const t_dir dir;
  std::ofstream(dir.cami + "/creix.sh")
      << "exec </proc/self/fd/0\nn=0\nwhile read l; do\n  case $l in Info*) n=$((n + 1)) ;; esac\n"
         "  if [ $n = 3 ]; then n=4; sleep 100 & fi\ndone\n";
  c.robots = {"/bin/sh " + dir.cami + "/creix.sh", "diana"};
  c.limits = {0, 1};
  const t_resultat creix = JugaPartida(c);
  EXPECT_EQ(Descriu(creix.fitxes[0].desenllac), "dropped: exceeded its process limit (1)");
  // (Or in the tick it grew, if starting the process kept it busy long enough to be measured
  // then, as on a loaded machine.)
  int tercer = -1, infos = 0, tick = -1;
  for (const t_linia& l : creix.linies) {
    if (l.robot == 0 && l.sentit == '>' && l.text.rfind("Info ", 0) == 0 && ++infos == 3) {
      tercer = l.tick;
    }
    if (l.robot == 0 && l.sentit == '!') tick = l.tick;
  }
  EXPECT_TRUE(tick == 10 || (tick == tercer && tercer > 0)) << tick << " " << tercer;
}

TEST(Contencio, WhatARobotWritesToItsStandardErrorIsKeptPerMatch) {
  t_config c;
  c.durada = 0.5;
  c.llavor = 9;
  const t_dir dir;
  c.base_err = dir.cami + "/primer";
  c.robots = {kRobots + "/queixa.sh " + CACADOR_BIN, TAVIK_BIN};
  const t_resultat r = JugaPartida(c);
  const std::string err = c.base_err + ".queixa.sh#1.err";
  EXPECT_EQ(r.fitxes[0].err, err);
  EXPECT_EQ(Llegeix(err), "queixa: something went wrong\n");
  EXPECT_EQ(r.fitxes[1].err, "");  // tavik writes nothing there: no file is left
  struct stat st;
  EXPECT_NE(stat((c.base_err + ".tavik#2.err").c_str(), &st), 0);
  EXPECT_NE(Resum(c, r).find("Cacador#1 wrote to its standard error: " + err), std::string::npos);
  // Of a long one, its last ten whole lines are kept for the replay.
  c.robots[0] = kRobots + "/llarg.sh " + CACADOR_BIN;
  const std::vector<std::string> final = JugaPartida(c).fitxes[0].err_final;
  ASSERT_EQ(final.size(), 10u);
  EXPECT_EQ(final.front().rfind("line 111: 000", 0), 0u) << final.front();
  EXPECT_EQ(final.back(), "last words");
  // Of lines so long that fewer than ten fit in what is looked at, the first whole one is kept
  // whole: only the one cut by the window is left out.
  c.robots[0] = kRobots + "/llarg.sh -w 1000 " + CACADOR_BIN;
  const std::vector<std::string> llargues = JugaPartida(c).fitxes[0].err_final;
  ASSERT_EQ(llargues.size(), 5u);
  EXPECT_EQ(llargues.front().rfind("line 116: 000", 0), 0u) << llargues.front();
}

// Runs the arena program with `args`, its output and errors in files of `dir`.
struct t_arena {
  t_fill proces;
  std::string sortida, errors;
};

t_arena Arena(const std::string& dir, std::vector<std::string> args) {
  t_arena a;
  a.sortida = dir + "/stdout";
  a.errors = dir + "/stderr";
  args.insert(args.begin(), ARENA_BIN);
  t_engegada e;
  e.ordre = args;
  e.err = a.errors;
  EXPECT_TRUE(Engega(a.proces, e)) << Descriu(a.proces.error);
  return a;
}

std::string Sortida(t_arena& a) {
  std::string text;
  for (const auto& l : a.proces.linies) text += l + "\n";
  return text;
}

// What the arena does to wait for its robots more precisely (a timer slack of its own) is not
// passed on to them: a robot runs with the slack the arena was started with, as this test was.
const long kHolgura = prctl(PR_GET_TIMERSLACK);

TEST(Contencio, ARobotRunsWithTheTimerSlackTheArenaWasGiven) {
  t_config c;
  c.durada = 0.5;
  c.robots = {TAVIK_BIN, "diana"};
  JugaPartida(c);  // the arena has waited for robots on this thread
  const t_dir dir;
  c.base_err = dir.cami + "/h";
  c.robots = {kRobots + "/holgura.sh " + TAVIK_BIN, "diana"};
  const t_resultat r = JugaPartida(c);
  ASSERT_EQ(r.fitxes.size(), 2u) << r.error_arena;
  EXPECT_EQ(Llegeix(r.fitxes[0].err), std::to_string(kHolgura) + "\n");
}

TEST(Arguments, WhatTheArenaCannotUseIsRefusedBeforeAnyWork) {
  const t_dir dir;
  const std::string transcript = dir.cami + "/m.txt";
  const std::pair<std::vector<std::string>, std::string> casos[] = {
      {{"--seed", "abc", "diana"}, "--seed"},
      {{"--seed", "-1", "diana"}, "--seed"},
      {{"--seed", "99999999999999999999", "diana"}, "--seed"},
      {{"--tournament", "abc", "diana"}, "--tournament"},
      {{"--time", "inf", "diana"}, "--time"},
      {{"--time", "nan", "diana"}, "--time"},
      {{"--bogus", "diana"}, "--bogus"},
      {{"/no/such/robot"}, "/no/such/robot: No such file or directory"},
      {{"/tmp"}, "/tmp: is a directory"},
      {{"--transcript", "/no/such/dir/x.txt", "diana"}, "/no/such/dir/x.txt: No such file"},
      {{"no-such-program-anywhere"}, "no-such-program-anywhere: not found in PATH"},
      {{"", "diana"}, "cannot start robot '': no program given"},
      {{" ", "diana"}, "cannot start robot ' ': no program given"},
  };
  for (const auto& [args, text] : casos) {
    std::vector<std::string> tots = args;
    if (tots[0] != "--transcript") tots.insert(tots.begin(), {"--transcript", transcript});
    t_arena a = Arena(dir.cami, tots);
    ASSERT_TRUE(EsperaFi(a.proces, 10000));
    EXPECT_EQ(ComAcaba(a.proces.estat), "exited with status 2") << args[0];
    EXPECT_NE(Llegeix(a.errors).find(text), std::string::npos) << Llegeix(a.errors);
    EXPECT_EQ(Sortida(a), "");
    Atura(a.proces);
  }
  {
    // A broken match file: its place and what is wrong, before anything is played.
    std::ofstream(dir.cami + "/trencat.toml")
        << "seed = 1\n[[robot]]\nprogram = \"diana\"\nx = 99\ny = 1\n";
    t_arena a = Arena(dir, {"--transcript", transcript, "--match", dir.cami + "/trencat.toml"});
    ASSERT_TRUE(EsperaFi(a.proces, 10000));
    EXPECT_EQ(ComAcaba(a.proces.estat), "exited with status 2");
    EXPECT_NE(Llegeix(a.errors).find("trencat.toml:2:1: a robot at (99, 1) is outside"),
              std::string::npos)
        << Llegeix(a.errors);
    Atura(a.proces);
  }
  struct stat st;
  EXPECT_NE(stat(transcript.c_str(), &st), 0);  // nothing was played, nothing written
  // The options given override what the match file says.
  t_arena a = Arena(dir, {"--match", std::string(PARTIDES_DIR) + "/duel.toml", "--time", "1",
                          "--seed", "8", "--transcript", transcript});
  ASSERT_TRUE(EsperaFi(a.proces, 20000));
  EXPECT_EQ(ComAcaba(a.proces.estat), "exited with status 0");
  EXPECT_NE(Sortida(a).find("Match: seed 8, 1.00 s of game time (20 ticks) of 1 s\nrobot"),
            std::string::npos)
      << Sortida(a);
  EXPECT_NE(Sortida(a).find("Cacador#2"), std::string::npos);
  Atura(a.proces);
  // A program named by a word is found on PATH (this one ends at once, and is dropped for it).
  a = Arena(dir, {"--time", "0.2", "--transcript", transcript, "true", "diana"});
  ASSERT_TRUE(EsperaFi(a.proces, 20000));
  EXPECT_EQ(ComAcaba(a.proces.estat), "exited with status 0") << Llegeix(a.errors);
  EXPECT_NE(Sortida(a).find("dropped: exited with status 0"), std::string::npos) << Sortida(a);
  Atura(a.proces);
  t_arena ajuda = Arena(dir.cami, {"--help"});
  ASSERT_TRUE(EsperaFi(ajuda.proces, 10000));
  EXPECT_EQ(ComAcaba(ajuda.proces.estat), "exited with status 0");
  EXPECT_NE(Sortida(ajuda).find("--tournament"), std::string::npos);
  Atura(ajuda.proces);
}

// Starts a minute's match in real time and waits until its robot is running.
pid_t ArenaAmbRobot(t_arena& a, const std::string& dir, const std::string& programa = TAVIK_BIN) {
  a = Arena(dir, {"--realtime", "--time", "60", "--transcript", dir + "/m.txt", programa});
  pid_t fill = -1;
  EXPECT_TRUE(EsperaQue([&] {
    const auto fills = Fills(a.proces.pid);
    if (!fills.empty()) fill = fills[0];
    return fill > 0;
  }));
  return fill;
}

TEST(Senyals, SigtermEndsTheMatchCleanlyAndWritesWhatWasPlayed) {
  const t_dir dir;
  t_arena a;
  const pid_t robot = ArenaAmbRobot(a, dir.cami);
  ASSERT_GT(robot, 0);
  ASSERT_GT(a.proces.pid, 1);  // only ever a process this test started
  kill(a.proces.pid, SIGTERM);
  ASSERT_TRUE(EsperaFi(a.proces, 10000));
  EXPECT_EQ(ComAcaba(a.proces.estat), "exited with status 143");
  const std::string sortida = Sortida(a);
  EXPECT_NE(sortida.find("interrupted at "), std::string::npos) << sortida;
  EXPECT_NE(sortida.find("Transcript: " + dir.cami + "/m.txt"), std::string::npos) << sortida;
  EXPECT_FALSE(Llegeix(dir.cami + "/m.txt").empty());
  EXPECT_FALSE(Llegeix(dir.cami + "/m.html").empty());
  EXPECT_FALSE(Existeix(robot));
  Atura(a.proces);
}

TEST(Senyals, AnArenaKilledOutrightTakesItsRobotsAlong) {
  // One robot ends when its input does; the other never looks at it, and must be ended.
  for (const char* programa : {TAVIK_BIN, "sleep 60"}) {
    const t_dir dir;
    t_arena a;
    const pid_t robot = ArenaAmbRobot(a, dir.cami, programa);
    ASSERT_GT(robot, 0);
    ASSERT_GT(a.proces.pid, 1);  // only ever a process this test started
    kill(a.proces.pid, SIGKILL);
    ASSERT_TRUE(EsperaFi(a.proces, 10000));
    // The robot dies with its arena; if it was handed to us on the way, we reap it.
    EXPECT_TRUE(EsperaQue([&] {
      waitpid(robot, nullptr, WNOHANG);
      return !Existeix(robot);
    })) << programa;
    if (Existeix(robot)) kill(robot, SIGKILL);
    Atura(a.proces);
  }
}

}  // namespace
