// Match files: every key read into the match's configuration, programs found relative to the
// file, and every broken file refused with the file, line and column of what is wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "arena/fitxer.h"

namespace {

struct t_fitxer {
  std::string cami;
  explicit t_fitxer(const std::string& text) {
    char nom[] = "/tmp/arena-partida-XXXXXX";
    cami = mkdtemp(nom) ? nom : "/tmp";
    std::ofstream(cami + "/bot.py") << "";
    cami += "/m.toml";
    std::ofstream(cami) << text;
  }
  ~t_fitxer() { std::filesystem::remove_all(cami.substr(0, cami.rfind('/'))); }
};

TEST(Fitxer, EveryKeyIsRead) {
  const t_fitxer f(R"(
description = "all of it"
seed = 77
duration = 12.5
tick = 0.02
games = 3
cookies = 1
mines = 2
answer_time = 2.5
memory_limit = 300
process_limit = 9
file_limit = 5
field = { width = 50, height = 20 }

[options]
cannon_turn = 2.5
max_shot = 7

[[robot]]
program = "tavik"
name = "Hero"
x = 5
y = 6
heading = 1.5
speed = 2

[[robot]]
program = "python3 bot.py"

[[cookie]]
x = 10
y = 10

[[mine]]
x = 11
y = 10

[[shot]]
x = 20
y = 10
heading = 3.14
energy = 2
)");
  t_config c;
  std::string error;
  ASSERT_TRUE(LlegeixPartida(f.cami, "/rivals", c, error)) << error;
  EXPECT_EQ(c.llavor, 77u);
  EXPECT_EQ(c.durada, 12.5);
  EXPECT_EQ(c.dt, 0.02);
  EXPECT_EQ(c.jocs, 3);
  EXPECT_EQ(c.galetes, 1);
  EXPECT_EQ(c.mines, 2);
  EXPECT_EQ(c.espera_ms, 2500);
  EXPECT_EQ(c.limits.memoria_mib, 300);
  EXPECT_EQ(c.limits.processos, 9);
  EXPECT_EQ(c.max_fitxer_mib, 5);
  EXPECT_EQ(c.amplada, 50);
  EXPECT_EQ(c.alcada, 20);
  EXPECT_EQ(c.opcions[OPT_GIR_CANYO], 2.5);
  EXPECT_EQ(c.opcions[OPT_TRET_MAX], 7);
  EXPECT_TRUE(std::isnan(c.opcions[OPT_GIR_COS]));
  const std::string dir = f.cami.substr(0, f.cami.rfind('/'));
  EXPECT_EQ(c.robots, (std::vector<std::string>{"/rivals/tavik", "python3 " + dir + "/bot.py"}));
  EXPECT_EQ(c.noms, (std::vector<std::string>{"Hero", ""}));
  ASSERT_EQ(c.llocs.size(), 2u);
  EXPECT_EQ(c.llocs[0].x, 5);
  EXPECT_EQ(c.llocs[0].rumb, 1.5);
  EXPECT_EQ(c.llocs[0].vel, 2);
  EXPECT_TRUE(c.llocs[1].aleatori);
  ASSERT_EQ(c.objectes.size(), 2u);
  EXPECT_EQ(c.objectes[1].tipus, OBJ_MINA);
  ASSERT_EQ(c.trets.size(), 1u);
  EXPECT_NEAR(c.trets[0].vx, -10, 1e-4);
  EXPECT_EQ(c.trets[0].energia, 2);
}

TEST(Fitxer, ABrokenFileIsRefusedWithItsPlace) {
  const std::pair<const char*, const char*> casos[] = {
      {"seed = 1\nsed = 2\n", ":2:1: unknown key 'sed' in the match"},
      {"seed = \"abc\"\n", ":1:8: 'seed' must be a whole number"},
      {"seed = -4\n", ":1:8: 'seed' must be from 0 to"},
      {"duration = nan\n", ":1:12: 'duration' must be a finite number"},
      {"[[robot]]\nprogram = \"diana\"\nx = 50\ny = 5\n", ":1:1: a robot at (50, 5) is outside"},
      {"[[robot]]\nprogram = \"diana\"\nx = 5\ny = 5\n[[robot]]\nprogram = \"diana\"\nx = 5.5\ny = "
       "5\n",
       ":5:1: this robot overlaps robot 1"},
      {"[[robot]]\nprogram = \"diana\"\nx = 5\n", ":1:1: a robot's place needs both x and y"},
      {"[[robot]]\nprogram = \"diana\"\ncolour = 1\n", ":3:1: unknown key 'colour' in a robot"},
      {"[[robot]]\nx = 1\ny = 1\n", ":1:1: a robot needs its 'program'"},
      {"robot = 3\n", ":1:9: 'robot' must be written [[robot]]"},
      {"[options]\nwarp = 9\n", ":2:1: unknown key 'warp' in options"},
      {"seed = 1\nseed = 2\n", ":2:"},  // toml++'s own error: the key is defined twice
      {"[[shot]]\nx = 1\ny = 1\nenergy = true\n", ":4:10: 'energy' must be a finite number"},
  };
  for (const auto& [text, esperat] : casos) {
    const t_fitxer f(text);
    t_config c;
    std::string error;
    EXPECT_FALSE(LlegeixPartida(f.cami, "/rivals", c, error)) << text;
    EXPECT_EQ(error.rfind(f.cami + esperat, 0), 0u) << text << "\n" << error;
  }
  t_config c;
  std::string error;
  EXPECT_FALSE(LlegeixPartida("/no/such/match.toml", "/rivals", c, error));
  EXPECT_EQ(error, "/no/such/match.toml: No such file or directory");
}

}  // namespace
