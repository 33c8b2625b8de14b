// Faults an arena can throw at the robot: lines cut at every byte, signal storms, a blocked
// output pipe at start-up, input closed for good, absurd numbers in every field and mode,
// binary garbage. Each is a liveness check with a generous deadline, then an exact comparison.
#include <poll.h>
#include <sys/syscall.h>

#include <fstream>
#include <random>

#include "tests/robot_e2e.h"

namespace {

// The CPU time a process has used so far, in seconds: schedstat counts nanoseconds on the CPU.
double TempsCpu(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  f >> ns;
  return ns / 1e9;
}

// The bundled game, without its comments and batch breaks.
std::string Partida() {
  std::ifstream f(GUIO_SCRIPT);
  std::string text;
  for (std::string l; std::getline(f, l);) {
    if (!l.empty() && l[0] != '#' && l != "ExitRobot") text += l + "\n";
  }
  return text;
}

// What a fresh robot answers to the bundled game sent in one batch.
Linies Referencia() {
  static const Linies referencia = [] {
    t_fill r;
    Engega(r, TAVIK_BIN);
    Linies l;
    std::string linia;
    for (int i = 0; i < 4; ++i) LlegeixLinia(r, linia);  // the start-up lines
    EnviaLot(r, Partida() + "Sync\n");
    while (LlegeixLinia(r, linia) && linia != kDesconegut) l.push_back(linia);
    Atura(r);
    return l;
  }();
  return referencia;
}

TEST_F(Tavik, AGameWrittenByteByByteWithASignalAfterEachPlaysAsInOneBatch) {
  Llegeix(4);
  for (char c : Partida()) ASSERT_TRUE(EnviaLot(robot, std::string(1, c)));
  EXPECT_EQ(Respon(""), Referencia());
}

TEST_F(Tavik, TenThousandSignalsEveryLineAnsweredOnceInOrder) {
  Llegeix(4);
  Linies esperat;
  for (int i = 0; i < 10000; ++i) {
    if (i % 3 != 2) {  // some signals come with no new line at all
      ASSERT_TRUE(Escriu(robot, i % 2 ? "Dead\n" : "GameOption 99 1\n"));
      esperat.push_back(i % 2 ? "Print :'(" : "Print UNKNOWN OPTION!!");
    }
    Senyala(robot);
  }
  EXPECT_EQ(Respon(""), esperat);
}

long CridaActual(pid_t pid) {
  long crida = -1;
  std::ifstream("/proc/" + std::to_string(pid) + "/syscall") >> crida;
  return crida;
}

TEST(Arrencada, SignalsWhileStartUpIsBlockedInAWriteKeepEveryLineWhole) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string ple = std::string(4095, 'x') + "\n";
  t_fill robot;
  ASSERT_TRUE(Engega(robot, TAVIK_BIN, ple));
  // Wait until main is stuck writing its first line into the full pipe.
  for (int i = 0; i < 10000 && CridaActual(robot.pid) != SYS_write; ++i) {
    poll(nullptr, 0, 1);
  }
  ASSERT_EQ(CridaActual(robot.pid), SYS_write);
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(Escriu(robot, "Initialize 1\n"));
    Senyala(robot);
  }
  ASSERT_TRUE(EnviaLot(robot, "Sync\n"));
  Linies totes;
  std::string linia;
  while (totes.size() < 1 + 4 + 100 + 1 && LlegeixLinia(robot, linia)) totes.push_back(linia);
  Atura(robot);
  ASSERT_EQ(totes.size(), 106u);
  EXPECT_EQ(totes[0], ple.substr(0, 4095));
  Linies arrencada, respostes;
  for (size_t i = 1; i < totes.size(); ++i) {
    const bool inicial =
        std::find(kArrencada.begin(), kArrencada.end(), totes[i]) != kArrencada.end();
    (inicial ? arrencada : respostes).push_back(totes[i]);
  }
  EXPECT_EQ(arrencada, kArrencada);
  Linies esperat;
  for (int i = 0; i < 50; ++i) {
    esperat.push_back("Name Tavik");
    esperat.push_back("Colour 0xffffff 0xb0b0b0");
  }
  esperat.push_back(kDesconegut);
  EXPECT_EQ(respostes, esperat);
}

TEST_F(Tavik, ClosedInputLeavesTheRobotIdleUntilItIsEnded) {
  Llegeix(4);
  TancaEntrada(robot);
  for (int i = 0; i < 100; ++i) Senyala(robot);
  ASSERT_TRUE(EsperaRepos(robot));
  const double abans = TempsCpu(robot.pid);
  EXPECT_FALSE(EsperaFi(robot, 1000));  // a quiet second: still up
  EXPECT_LT(TempsCpu(robot.pid) - abans, 0.05);
  kill(robot.pid, SIGTERM);
  ASSERT_TRUE(EsperaFi(robot, 10000));
  EXPECT_TRUE(WIFSIGNALED(robot.estat) && WTERMSIG(robot.estat) == SIGTERM);
}

TEST_F(Tavik, AClosedCommandPipeLosesTheLinesAndTheRobotGoesOn) {
  Llegeix(4);
  close(robot.sortida);
  robot.sortida = -1;
  ASSERT_TRUE(EnviaLot(robot, "Initialize 1\nDead\n"));
  // Asleep again, neither killed by SIGPIPE nor spinning on the failed write.
  ASSERT_TRUE(EsperaRepos(robot)) << Descriu(robot.ocupat);
  EXPECT_FALSE(EsperaFi(robot, 0));
  ASSERT_TRUE(EnviaLot(robot, "ExitRobot\n"));
  EXPECT_TRUE(AcabaAmb(0));
}

TEST(Sortida, ANonBlockingOutputPipeThatFillsLosesNothing) {
  std::signal(SIGPIPE, SIG_IGN);
  t_engegada e;
  e.ordre = {TAVIK_BIN};
  e.sortida_no_bloquejant = true;
  e.previ = std::string(4095, 'x') + "\n";  // full from the start, and only a page long
  t_fill robot;
  ASSERT_TRUE(Engega(robot, e)) << Descriu(robot.error);
  std::string lot;
  for (int i = 0; i < 2000; ++i) lot += "Initialize 1\n";
  ASSERT_TRUE(EnviaLot(robot, lot + "Sync\n"));
  Linies totes;
  std::string linia;
  while (totes.size() < 1 + 4 + 4000 + 1 && LlegeixLinia(robot, linia)) totes.push_back(linia);
  Atura(robot);
  ASSERT_EQ(totes.size(), 4006u);
  EXPECT_EQ(Linies(totes.begin() + 1, totes.begin() + 5), kArrencada);
  for (size_t i = 5; i < 4005; i += 2) {
    ASSERT_EQ(totes[i], "Name Tavik") << i;
    ASSERT_EQ(totes[i + 1], "Colour 0xffffff 0xb0b0b0") << i;
  }
  EXPECT_EQ(totes.back(), kDesconegut);
}

// A library preloaded into the robot raises SIGUSR1 from inside every heap call made while the
// signal could be delivered, and aborts if the heap is entered again; after the static
// destructors it puts lines on standard input and raises SIGUSR1 once more, and ends the robot
// with status 70 if they are read. It leaves one line of its own on the input before main runs.
TEST(Senyals, NoDeliveryRunsInsideTheHeapOrAfterMainHasReturned) {
#ifdef TAVIK_SANITIZE
  GTEST_SKIP() << "the fault-injection library replaces the allocator, which a sanitizer build "
                  "cannot have replaced";
#else
  std::signal(SIGPIPE, SIG_IGN);
  setenv("LD_PRELOAD", INTRUS_LIB, 1);
  t_fill robot;
  const bool engegat = Engega(robot, TAVIK_BIN);
  unsetenv("LD_PRELOAD");
  ASSERT_TRUE(engegat) << Descriu(robot.error);
  Linies linies;
  std::string linia;
  while (linies.size() < 4 && LlegeixLinia(robot, linia)) linies.push_back(linia);
  EXPECT_EQ(linies, kArrencada);
  ASSERT_TRUE(EnviaLot(robot, "Sync\n"));
  EXPECT_TRUE(LlegeixLinia(robot, linia) && linia == kDesconegut);  // the library's line
  EXPECT_TRUE(LlegeixLinia(robot, linia) && linia == kDesconegut);  // ours
  // Lines after ExitRobot in its delivery are still handled: the scan queued at 1 goes out.
  ASSERT_TRUE(EnviaLot(robot, "GameStarts\nInfo 1 0 0\nExitRobot\nInfo 3 0 0\nDead\n"));
  ASSERT_TRUE(EsperaFi(robot, 10000));
  EXPECT_EQ(ComAcaba(robot.estat), "exited with status 0");
  EXPECT_EQ(Linies(robot.linies.begin(), robot.linies.end()), (Linies{"Rotate 6 0", "Print :'("}));
  Atura(robot);
#endif
}

// Every numeric field of the messages that carry numbers, given a value no arena should send.
std::string LiniesAbsurdes() {
  const char* valors[] = {"1e308", "-1e308", "1e400",       "-1e400", "nan", "inf",
                          "-inf",  "4e-320", "99999999999", ",",      ""};
  const std::pair<const char*, std::vector<const char*>> missatges[] = {
      {"Info", {"7", "0.5", "1"}}, {"Radar", {"10", "0", "1"}}, {"Radar", {"10", "3", "1"}},
      {"GameOption", {"3", "1"}},  {"Energy", {"40"}},          {"Collision", {"0", "1"}}};
  std::string text;
  for (const auto& [nom, camps] : missatges) {
    for (size_t i = 0; i < camps.size(); ++i) {
      for (const char* valor : valors) {
        text += nom;
        for (size_t j = 0; j < camps.size(); ++j)
          text += std::string(" ") + (i == j ? valor : camps[j]);
        text += "\n";
      }
    }
  }
  return text;
}

TEST_F(Tavik, AbsurdNumbersInEveryFieldAndModeThenAGamePlaysAsUsual) {
  Llegeix(4);
  const std::string opcions =
      "GameOption 0 0.5\nGameOption 1 1\nGameOption 2 1\nGameOption 3 0.5\nGameOption 9 1\n";
  const std::string escaneja = "GameStarts\nEnergy 50\nInfo 1 0 0\nInfo 2 0 0\nInfo 3 0 0\n";
  const std::string modes[] = {"GameStarts\n", escaneja, escaneja + "Radar 10 0 1\n",
                               escaneja + "Radar 10 3 1\n",
                               "GameStarts\nInfo 1 0 0\nCollision 0 0\n"};
  for (const auto& mode : modes) {
    ASSERT_TRUE(EnviaLot(robot, opcions + mode + LiniesAbsurdes() + "Sync\n"));
    FinsDesconegut();
  }
  EXPECT_EQ(Respon(Partida()), Referencia());
}

TEST_F(Tavik, BinaryGarbageIsOneUnknownMessagePerLine) {
  Llegeix(4);
  std::mt19937 gen(11);
  std::string brossa;
  const int linies = 500;
  for (int i = 0; i < linies; ++i) {
    brossa += static_cast<char>(i % 3 == 0 ? 0 : 0x80 + gen() % 128);  // never a message word
    for (unsigned n = gen() % 200; n > 0; --n) {
      const char c = static_cast<char>(gen() % 256);
      brossa += c == '\n' ? '\0' : c;
    }
    brossa += '\n';
  }
  EXPECT_EQ(Respon(brossa, linies), Linies(linies, kDesconegut));
}

}  // namespace
