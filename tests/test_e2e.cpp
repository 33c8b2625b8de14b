// End-to-end: the built robot started as an arena starts it (SIGUSR1 blocked across exec, stdin a
// non-blocking pipe, a signal after each batch), its exact output lines, and how it ends.
#include <unistd.h>

#include <cstdio>

#include "tests/robot_e2e.h"

namespace {

TEST_F(Tavik, StartsWithItsOptionsAndEndsOnExitRobot) {
  EXPECT_EQ(Llegeix(4), kArrencada);
  EXPECT_EQ(Respon("Initialize 1\n"), (Linies{"Name Tavik", "Colour 0xffffff 0xb0b0b0"}));
  // Lines after ExitRobot in the same batch are still handled.
  EXPECT_TRUE(EnviaLot(robot, "ExitRobot\nDead\n"));
  EXPECT_TRUE(AcabaAmb(0));
  EXPECT_EQ(Linies(robot.linies.begin(), robot.linies.end()), Linies{"Print :'("});
}

TEST_F(Tavik, DispatchesEveryWaitingLineInOrder) {
  Llegeix(4);
  EXPECT_EQ(Respon("Dead\ninfo 1 2 3\n\n   Dead\nGameOption 15 1\n", 2),
            (Linies{"Print :'(", kDesconegut, kDesconegut, "Print :'(", "Print UNKNOWN OPTION!!"}));
}

TEST_F(Tavik, ALineWrittenInPiecesIsHandledOnceWhole) {
  Llegeix(4);
  for (char c : std::string("Initialize 1\n")) EXPECT_TRUE(EnviaLot(robot, std::string(1, c)));
  EXPECT_TRUE(EnviaLot(robot, "De"));
  EXPECT_TRUE(EnviaLot(robot, "ad\nDe"));
  EXPECT_EQ(Respon("ad\n"),
            (Linies{"Name Tavik", "Colour 0xffffff 0xb0b0b0", "Print :'(", "Print :'("}));
}

TEST_F(Tavik, AnUnterminatedLastLineIsHandledAtTheEndOfInput) {
  Llegeix(4);
  EXPECT_TRUE(EnviaLot(robot, "Dead"));
  EXPECT_TRUE(EsperaRepos(robot));
  EXPECT_TRUE(robot.linies.empty());
  TancaEntrada(robot);
  Senyala(robot);
  EXPECT_EQ(Llegeix(1), Linies{"Print :'("});
  // Without ExitRobot the robot stays up, quietly, until it is ended from outside.
  Senyala(robot);
  EXPECT_TRUE(EsperaRepos(robot));
  EXPECT_FALSE(EsperaFi(robot, 200));
  kill(robot.pid, SIGTERM);
  ASSERT_TRUE(EsperaFi(robot, 5000));
  EXPECT_TRUE(WIFSIGNALED(robot.estat));
  EXPECT_TRUE(EsperaFi(robot, 0));  // asked again, an ended robot is still ended
}

TEST_F(Tavik, ASignalBeforeStartUpEndsWaitsAndEveryLineStaysWhole) {
  // Sent at once: the signal waits, blocked, until the robot has its handler.
  EXPECT_TRUE(EnviaLot(robot, "Initialize 1\nDead\nSync\n"));
  Linies totes = FinsDesconegut();
  Linies arrencada, altres;
  for (const auto& l : totes) {
    const bool inicial = std::find(kArrencada.begin(), kArrencada.end(), l) != kArrencada.end();
    (inicial ? arrencada : altres).push_back(l);
  }
  for (const auto& l : Llegeix(kArrencada.size() - arrencada.size())) arrencada.push_back(l);
  EXPECT_EQ(arrencada, kArrencada);
  EXPECT_EQ(altres, (Linies{"Name Tavik", "Colour 0xffffff 0xb0b0b0", "Print :'("}));
}

TEST_F(Tavik, RememberedRadarTypeStartsAsARobot) {
  Llegeix(4);
  const std::string joc =
      "GameOption 1 1\nGameOption 2 1\nGameOption 9 2\nGameStarts\nEnergy 50\n"
      "Info 1 0 0\nInfo 2 0 0\nInfo 3 0 0\n";
  EXPECT_EQ(Respon(joc), Linies{"Rotate 6 1"});
  EXPECT_EQ(Respon("Radar 10 5 1\n"),
            (Linies{"Print  [+] ^^", "Sweep 6 1 0.89528 1.10472", "Shoot 2"}));
}

TEST_F(Tavik, LongLinesArriveWholeAndOverlongOnesAreSkipped) {
  Llegeix(4);
  EXPECT_EQ(Respon("Dead" + std::string(300 * 1024, ' ') + "\n"), Linies{"Print :'("});
  EXPECT_EQ(Respon("Dead" + std::string(1100 * 1024, 'x') + "\nDead\n", 1),
            (Linies{kDesconegut, "Print :'("}));
}

TEST(Fitxer, AfterTheEndOfAFileTheNextSignalReadsWhatWasAppended) {
  char nom[] = "/tmp/tavik-entrada-XXXXXX";
  const int fd = mkstemp(nom);
  ASSERT_GE(fd, 0);
  auto Afegeix = [&](const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  Afegeix("Dead\n");
  t_engegada e;
  e.ordre = {TAVIK_BIN};
  e.entrada = nom;
  t_fill robot;
  ASSERT_TRUE(Engega(robot, e)) << Descriu(robot.error);
  Linies l;
  std::string linia;
  Senyala(robot);
  while (l.size() < 5 && LlegeixLinia(robot, linia)) l.push_back(linia);
  EXPECT_EQ(l.back(), "Print :'(");
  Afegeix("Initialize 1\nExitRobot\n");
  Senyala(robot);
  EXPECT_TRUE(EsperaFi(robot, 5000));
  EXPECT_EQ(ComAcaba(robot.estat), "exited with status 0");
  EXPECT_EQ(Linies(robot.linies.begin(), robot.linies.end()),
            (Linies{"Name Tavik", "Colour 0xffffff 0xb0b0b0"}));
  Atura(robot);
  close(fd);
  unlink(nom);
}

// Runs guio with `args`; its exit status goes to `estat`, what it printed is returned.
std::string Guio(const std::string& args, int& estat) {
  FILE* p = popen((GUIO_BIN " " + args + " 2>&1").c_str(), "r");
  if (!p) return "";
  std::string sortida;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) sortida.append(buf, n);
  estat = pclose(p);
  return sortida;
}

TEST(Guio, PlaysTheBundledGame) {
  int estat = -1;
  const std::string sortida = Guio(TAVIK_BIN " " GUIO_SCRIPT, estat);
  EXPECT_EQ(estat, 0) << sortida;
  for (const char* linia :
       {"< RobotOption 3 1\n", "> Initialize 1\n", "< Name Tavik\n", "< Print  [+] ^^\n",
        "< Print  [i] Corre Vorlan!\n", "< Print  [i] Nyam!\n", "< Print :'(\n",
        "robot exited with status 0\n"}) {
    EXPECT_NE(sortida.find(linia), std::string::npos) << linia << "\n" << sortida;
  }
}

TEST(Guio, PlaysRobotsThatAskForNoSignalAndNamesOnesItCannotStart) {
  int estat = -1;
  // This one waits on its input with poll(): it is never signalled, and never kept waiting.
  std::string sortida = Guio(CACADOR_BIN " " GUIO_SCRIPT, estat);
  EXPECT_EQ(estat, 0) << sortida;
  EXPECT_NE(sortida.find("< Name Cacador\n"), std::string::npos) << sortida;
  // A robot that fails is a failed run, told apart from one that could not start.
  sortida = Guio("/bin/false " GUIO_SCRIPT, estat);
  EXPECT_TRUE(WIFEXITED(estat) && WEXITSTATUS(estat) == 1) << sortida;
  EXPECT_NE(sortida.find("robot exited with status 1\n"), std::string::npos) << sortida;
  sortida = Guio("/no/such/robot " GUIO_SCRIPT, estat);
  EXPECT_TRUE(WIFEXITED(estat) && WEXITSTATUS(estat) == 2) << sortida;
  EXPECT_EQ(sortida,
            "guio: cannot start /no/such/robot: /no/such/robot: No such file or directory\n");
}

}  // namespace
