// The protocol's wire text and the words of outcomes, without a match: every command and message
// written and read back, the rules command lines are read by, each drop reason said exactly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "arena/desenllac.h"
#include "arena/protocol.h"

using namespace arena;

namespace {

// The command a line is read as, written back; or the warning it got instead.
std::string ComLlegida(const std::string& linia) {
  const t_lectura l = LlegeixComanda(linia);
  if (!l.comanda) return l.avis ? Linia(t_missatge_arena{*l.avis}) : "nothing";
  return Linia(*l.comanda) + (l.avis ? " / " + Linia(t_missatge_arena{*l.avis}) : "");
}

TEST(Comandes, EveryCommandIsWrittenAndReadBack) {
  const std::vector<std::pair<t_comanda, std::string>> casos = {
      {t_accelera{0.5}, "Accelerate 0.5"},
      {t_frena{1}, "Brake 1"},
      {t_dispara{2}, "Shoot 2"},
      {t_gira{7, -1.5}, "Rotate 7 -1.5"},
      {t_gira_fins{PART_COS, 0.785398, 6}, "RotateTo 1 0.785398 6"},
      {t_gira_quant{PART_CANYO | PART_RADAR, 0.5, -0.1}, "RotateAmount 6 0.5 -0.1"},
      {t_escombra{6, 1.5708, 0.60214, 0.81158}, "Sweep 6 1.5708 0.60214 0.81158"},
      {t_escriu{"hello,  world"}, "Print hello,  world"},
      {t_depura{"x = 1,5"}, "Debug x = 1,5"},
      {t_dibuixa_linia{1, 2.5, -3, 40}, "DebugLine 1 2.5 -3 40"},
      {t_dibuixa_cercle{10.5, 15, 2}, "DebugCircle 10.5 15 2"},
      {t_nom{"Sonda"}, "Name Sonda"},
      {t_colors{"#d64b2b", "#802020"}, "Colour 0xd64b2b 0x802020"},
      {t_colors{"#2ba84a", ""}, "Colour 0x2ba84a"},
      {t_opcio_robot{1, 1}, "RobotOption 1 1"},
  };
  ASSERT_EQ(casos.size(), std::variant_size_v<t_comanda> + 1);  // one per command, two colours
  for (const auto& [comanda, text] : casos) {
    EXPECT_EQ(Linia(comanda), text);
    const t_lectura l = LlegeixComanda(text);
    ASSERT_TRUE(l.comanda) << text;
    EXPECT_FALSE(l.avis) << text;
    EXPECT_EQ(l.comanda->index(), comanda.index()) << text;
    EXPECT_EQ(Linia(*l.comanda), text);
  }
}

TEST(Comandes, ADecimalCommaIsAPointInNumbersOnly) {
  EXPECT_EQ(ComLlegida("Accelerate 0,5"), "Accelerate 0.5");
  EXPECT_EQ(ComLlegida("Sweep 6 1,5708 0,9 1,1"), "Sweep 6 1.5708 0.9 1.1");
  EXPECT_EQ(ComLlegida("DebugCircle 10,5 15 2"), "DebugCircle 10.5 15 2");
  EXPECT_EQ(ComLlegida("DebugLine 0,25 1 2 3,75"), "DebugLine 0.25 1 2 3.75");
  // Text is kept as written, commas and blanks included.
  EXPECT_EQ(ComLlegida("Print hello, world"), "Print hello, world");
  EXPECT_EQ(std::get<t_escriu>(*LlegeixComanda("  Print   a,b ").comanda).text, "  a,b ");
  EXPECT_EQ(ComLlegida("Name A,b"), "Name A,b");
  // As the stream reads them: what follows a number is left unread.
  EXPECT_EQ(ComLlegida("Accelerate 2x"), "Accelerate 2");
  EXPECT_EQ(ComLlegida("Brake\t1"), "Brake 1");
  EXPECT_EQ(AmbPunts("a,b,,c"), "a.b..c");
}

TEST(Comandes, WhatCannotBeReadIsAnsweredWithAWarning) {
  for (const std::string linia :
       {"Rotate", "Rotate 8 1", "Rotate -1 1", "Rotate 1 nan", "Rotate 1 1e999", "Accelerate x",
        "Fly 1", "Sweep 6 1 0", "RotateTo 1 1", "Shoot", "", "   ", "accelerate 1",
        "DebugLine 1 2 3", "DebugCircle 1 x 2", "DebugCircle 1 inf 2", "Name", "Colour"}) {
    EXPECT_EQ(ComLlegida(linia), "Warning 1 " + linia);
  }
  // An option the arena does not know has a warning of its own.
  for (const std::string linia :
       {"RobotOption 5 1", "RobotOption -1 0", "RobotOption 1", "RobotOption x 1"}) {
    EXPECT_EQ(ComLlegida(linia), "Warning 3 " + linia);
  }
  for (int opcio = 0; opcio <= 4; ++opcio) {
    const std::string linia = "RobotOption " + std::to_string(opcio) + " 1";
    EXPECT_EQ(ComLlegida(linia), linia);
  }
}

TEST(Comandes, ALineLongerThanTheLimitIsNotRead) {
  const std::string justa = "Print " + std::string(kMaxLinia - 6, 'x');
  ASSERT_EQ(justa.size(), kMaxLinia);
  EXPECT_TRUE(LlegeixComanda(justa).comanda);
  const t_lectura llarga = LlegeixComanda(justa + "x");
  EXPECT_FALSE(llarga.comanda);
  ASSERT_TRUE(llarga.avis);
  EXPECT_EQ(Linia(t_missatge_arena{*llarga.avis}), "Warning 1 line too long");
  EXPECT_EQ(ComLlegida("Accelerate 1" + std::string(kMaxLinia, ' ')), "Warning 1 line too long");
}

TEST(Comandes, ANameIsOneWordOfPrintableText) {
  EXPECT_EQ(ComLlegida("Name Sonda"), "Name Sonda");
  EXPECT_EQ(ComLlegida("Name   Sonda de proves"),
            "Name Sonda / Warning 2 name cut at its first blank: Sonda");
  EXPECT_EQ(ComLlegida("Name Sonda\tB"),
            "Name Sonda / Warning 2 name cut at its first blank: Sonda");
  for (const std::string linia :
       {"Name So#nda", "Name Bo\x1b[2Jb", "Name Caf\xc3\xa9", "Name \x7f"}) {
    EXPECT_EQ(ComLlegida(linia), "Warning 1 " + linia);
  }
  EXPECT_TRUE(NomValid("~!Robot-2.0"));
  EXPECT_FALSE(NomValid(""));
  EXPECT_FALSE(NomValid("a b"));
}

TEST(Comandes, ColoursAreSixHexDigits) {
  EXPECT_EQ(ComLlegida("Colour 0XFF00aa 00FF00"), "Colour 0xff00aa 0x00ff00");
  EXPECT_EQ(ComLlegida("Colour ff0000 red"), "Colour 0xff0000");  // the second is no colour
  for (const std::string linia : {"Colour red ff0000", "Colour 0x12345", "Colour 0x1234567",
                                  "Colour 0xgg0000 ff0000", "Colour #ff0000"}) {
    EXPECT_EQ(ComLlegida(linia), "Warning 1 " + linia);
  }
  EXPECT_EQ(LlegeixColor("0xABCDEF"), "#abcdef");
  EXPECT_EQ(LlegeixColor("abcdef"), "#abcdef");
  EXPECT_EQ(LlegeixColor("0x"), "");
}

TEST(Missatges, EveryMessageIsWrittenAsItAlwaysWasAndReadBack) {
  const std::vector<std::pair<t_missatge_arena, std::string>> casos = {
      {t_inicia{1}, "Initialize 1"},
      {t_nom_donat{"Sonda#1"}, "YourName Sonda#1"},
      {t_color_donat{"#2b7bd6"}, "YourColour 0x2b7bd6"},
      {t_opcio_joc{0, 0.785398}, "GameOption 0 0.785398"},
      {t_comenca{}, "GameStarts"},
      {t_info{0.05, 0.02475, 6.2831}, "Info 0.05 0.02475 6.2831"},
      {t_coordenades{10, 15, 0}, "Coordinates 10 15 0"},
      {t_radar{9.5, OBJ_ROBOT, 3.14159265}, "Radar 9.5 0 3.14159"},
      {t_info_robot{97.5, 0}, "RobotInfo 97.5 0"},
      {t_xoc{OBJ_PARET, 1.5707963}, "Collision 2 1.5708"},
      {t_gir_acabat{PART_COS | PART_RADAR}, "RotationReached 5"},
      {t_energia{1234567.0}, "Energy 1.23457e+06"},
      {t_vius{2}, "RobotsLeft 2"},
      {t_advertiment{1, "Bogus  1"}, "Warning 1 Bogus  1"},
      {t_mort{}, "Dead"},
      {t_acaba{}, "GameFinishes"},
      {t_surt{}, "ExitRobot"},
  };
  ASSERT_EQ(casos.size(), std::variant_size_v<t_missatge_arena>);
  for (const auto& [missatge, text] : casos) {
    EXPECT_EQ(Linia(missatge), text);
    const std::optional<t_missatge_arena> llegit = LlegeixMissatge(text);
    ASSERT_TRUE(llegit) << text;
    EXPECT_EQ(llegit->index(), missatge.index()) << text;
    EXPECT_EQ(Linia(*llegit), text);
  }
  // Negative values and whole numbers, as the match writes them.
  EXPECT_EQ(Linia(t_info{12, -0.5, 0.1}), "Info 12 -0.5 0.1");
  EXPECT_EQ(Linia(t_opcio_joc{12, 60}), "GameOption 12 60");
  for (const char* linia : {"Info 1 x 2", "Radar 1", "Nonsense 1", "", "YourColour red"}) {
    EXPECT_FALSE(LlegeixMissatge(linia)) << linia;
  }
}

// Numbers keep the form the arena's lines have always had, printf's %.6g in the C locale, at
// the places where that form turns: six digits rounding up to seven, small numbers written
// with exponents, negative zero, the ends of a double.
TEST(Missatges, NumbersAreWrittenAsTheyAlwaysWere) {
  const double casos[] = {0,     -0.0,   1,        -1,           0.1,           0.05,
                          2.675, 1e6,    999999.4, 999999.5,     123456789,     0.0001,
                          1e-5,  1.5e-7, 12.5e-5,  -3.14159265,  6.28318530718, 0.333333333,
                          1e15,  1e300,  5e-324,   std::nan(""), HUGE_VAL,      -HUGE_VAL};
  for (double x : casos) {
    char esperat[64];
    std::snprintf(esperat, sizeof esperat, "Energy %.6g", x);
    EXPECT_EQ(Linia(t_energia{x}), esperat);
    std::snprintf(esperat, sizeof esperat, "Radar %.6g 3 %.6g", x, -x);
    EXPECT_EQ(Linia(t_radar{x, OBJ_GALETA, -x}), esperat);
  }
  EXPECT_EQ(Linia(t_vius{-2147483647 - 1}), "RobotsLeft -2147483648");
  // Added to a buffer, a line follows what is there already.
  std::string o = "Dead\n";
  AfegeixLinia(o, t_info{0.05, 0, -0.5});
  EXPECT_EQ(o, "Dead\nInfo 0.05 0 -0.5");
}

t_motiu Ocupat(t_feina feina, pid_t pid, pid_t fil, const std::string& nom) {
  t_motiu m = Motiu(t_causa::SENSE_RESPOSTA);
  m.ocupat = {feina, pid, fil, nom, 'R', 61};
  return m;
}

TEST(Desenllacos, EveryReasonInTheWordsPeopleRead) {
  t_motiu no_executa = Motiu(t_causa::NO_EXECUTA, ENOENT, "/robots/no-such-robot");
  const std::vector<std::pair<t_motiu, std::string>> casos = {
      {Motiu(t_causa::SURT, 3), "exited with status 3"},
      {Motiu(t_causa::SENYAL, SIGSEGV), "killed by signal 11 (SIGSEGV)"},
      {Motiu(t_causa::SENYAL, SIGXFSZ), "killed by signal 25 (SIGXFSZ)"},
      {Motiu(t_causa::ACABA, 4991), "ended with status 4991"},
      {Motiu(t_causa::NO_LLEGEIX), "does not read its input"},
      {Motiu(t_causa::INUNDA), "floods its output"},
      {Motiu(t_causa::BRUTICIA), "writes garbage"},
      {Motiu(t_causa::MEMORIA, 100), "exceeded its memory limit (100 MiB)"},
      {Motiu(t_causa::PROCESSOS, 5), "exceeded its process limit (5)"},
      {no_executa, "cannot run /robots/no-such-robot: No such file or directory"},
      {Motiu(t_causa::NO_EXECUTA, 0, "bot"), "cannot run bot: its sandbox's init ended"},
      {Motiu(t_causa::NO_ENGEGA, 0, "pipe: Too many open files"), "pipe: Too many open files"},
      {Ocupat(t_feina::ESTAT, 12, 12, "ocupat.sh"),
       "no answer in time (process 12 (ocupat.sh): state R)"},
      {Ocupat(t_feina::CRIDA, 12, 14, "bot"),
       "no answer in time (process 12 (bot), thread 14: in system call 61)"},
      {Ocupat(t_feina::SENYAL, 12, 12, "bot"),
       "no answer in time (process 12 (bot): a SIGUSR1 is pending)"},
      {Ocupat(t_feina::FILS, 12, 12, "bot"),
       "no answer in time (its threads were still waking each other)"},
      {Ocupat(t_feina::ENTRADA, 12, 12, "bot"),
       "no answer in time (it has not read all its input)"},
      {Motiu(t_causa::SENSE_RESPOSTA), "no answer in time ()"},
      {Motiu(t_causa::CAP), ""},
  };
  for (const auto& [motiu, text] : casos) EXPECT_EQ(Descriu(motiu), text);
  // What the robot or the system named comes out as plain text.
  EXPECT_EQ(Descriu(Ocupat(t_feina::ESTAT, 7, 7, "b\x1b[2J\xf2")),
            "no answer in time (process 7 (b\\x1B[2J\\xF2): state R)");
  no_executa.detall = "/tmp/\x1b[7m";
  EXPECT_EQ(Descriu(no_executa), "cannot run /tmp/\\x1B[7m: No such file or directory");
}

TEST(Desenllacos, AWaitStatusSaysHowAProcessEnded) {
  EXPECT_EQ(Descriu(Acabament(W_EXITCODE(0, 0))), "exited with status 0");
  EXPECT_EQ(Descriu(Acabament(W_EXITCODE(2, 0))), "exited with status 2");
  EXPECT_EQ(Descriu(Acabament(W_EXITCODE(0, SIGKILL))), "killed by signal 9 (SIGKILL)");
  EXPECT_EQ(Acabament(W_STOPCODE(SIGSTOP)).causa, t_causa::ACABA);
}

TEST(Desenllacos, AnOutcomeIsAWordAndReadsBack) {
  EXPECT_EQ(Descriu(t_desenllac{t_estat_robot::VIU, {}}), "alive");
  EXPECT_EQ(Descriu(t_desenllac{t_estat_robot::MORT, {}}), "dead");
  EXPECT_EQ(Descriu(t_desenllac{t_estat_robot::CAIGUT, Motiu(t_causa::BRUTICIA)}),
            "dropped: writes garbage");
  for (t_estat_robot e : {t_estat_robot::VIU, t_estat_robot::MORT, t_estat_robot::CAIGUT}) {
    t_estat_robot llegit = t_estat_robot::VIU;
    ASSERT_TRUE(LlegeixEstat(Paraula(e), llegit)) << Paraula(e);
    EXPECT_EQ(llegit, e) << Paraula(e);
  }
  t_estat_robot estat = t_estat_robot::MORT;
  for (const char* paraula : {"Alive", "dropped: writes garbage", "", "alive "}) {
    EXPECT_FALSE(LlegeixEstat(paraula, estat)) << paraula;
  }
  EXPECT_EQ(estat, t_estat_robot::MORT);  // left as it was
}

}  // namespace
