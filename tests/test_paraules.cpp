// The arena's words for outcomes, without a match: each drop reason and busy state said exactly
// as transcripts, summaries and records say them, and a record's status read back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "arena/desenllac.h"

namespace {

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
