// Fixture for tests that start the built robot as an arena does: reads its lines, sends batches
// with a sync line (an unknown word, answered only after everything before it) and waits for
// answers with a deadline rather than for a fixed time.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "arena/proces.h"

using namespace arena;

using Linies = std::vector<std::string>;
inline const std::string kDesconegut = "Print Missatge desconegut!";
inline const Linies kArrencada = {"RobotOption 3 1", "RobotOption 0 1", "RobotOption 1 1",
                                  "Print  [i] El tramix me ha dejado incompleto :'("};

class Tavik : public ::testing::Test {
 protected:
  t_fill robot;

  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_TRUE(Engega(robot, TAVIK_BIN));
  }
  void TearDown() override { Atura(robot); }

  Linies Llegeix(size_t n) {
    Linies l;
    std::string linia;
    while (l.size() < n && LlegeixLinia(robot, linia)) l.push_back(linia);
    return l;
  }

  // Reads up to and including the `n`-th unknown-message answer; returns what came before it.
  Linies FinsDesconegut(int n = 1) {
    Linies l;
    std::string linia;
    while (LlegeixLinia(robot, linia)) {
      if (linia == kDesconegut && --n == 0) return l;
      l.push_back(linia);
    }
    ADD_FAILURE() << "no answer to the sync line";
    return l;
  }

  // Sends `linies` and a sync line in one batch; returns what the robot wrote for `linies`.
  Linies Respon(const std::string& linies, int desconeguts = 0) {
    EXPECT_TRUE(EnviaLot(robot, linies + "Sync\n"));
    return FinsDesconegut(desconeguts + 1);
  }

  bool AcabaAmb(int codi) {
    return EsperaFi(robot, 5000) && WIFEXITED(robot.estat) && WEXITSTATUS(robot.estat) == codi;
  }
};
