// Match files: every key read into the match's configuration, programs found relative to the
// file, every broken file refused with the file, line and column of what is wrong, before any
// robot starts; and the field laid out from them, the same for the same game.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "arena/fitxer.h"
#include "arena/proces.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

// A match file holding `text`, in a folder of its own beside an empty bot.py and an empty
// python3 (a command's first word without a '/' is a program on PATH, even if a file there has
// its name).
struct t_fitxer {
  t_dir dir;
  std::string cami;
  explicit t_fitxer(const std::string& text) : cami(dir.cami + "/m.toml") {
    std::ofstream(dir.cami + "/bot.py") << "";
    std::ofstream(dir.cami + "/python3") << "";
    std::ofstream(cami) << text;
  }
};

TEST(Partides, EveryKeyIsRead) {
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
program = "python3 bot.py fast"

[[robot]]
program = "tavik"
x = 7
y = 8

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
  // Read over a configuration that had robots of its own: the file's replace them whole.
  t_config c;
  c.robots = {"/old/robot"};
  c.noms = {"Old"};
  c.llocs = {{1, 1, 0}};
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
  const std::string& dir = f.dir.cami;
  // Only the words that name a file beside the match file are taken from its folder.
  EXPECT_EQ(c.robots, (std::vector<std::string>{"/rivals/tavik", "python3 " + dir + "/bot.py fast",
                                                "/rivals/tavik"}));
  EXPECT_EQ(c.noms, (std::vector<std::string>{"Hero", "", ""}));
  ASSERT_EQ(c.llocs.size(), 3u);
  EXPECT_EQ(c.llocs[0].x, 5);
  EXPECT_EQ(c.llocs[0].rumb, 1.5);
  EXPECT_EQ(c.llocs[0].vel, 2);
  EXPECT_TRUE(c.llocs[1].aleatori);
  // A place without a heading or a speed faces east, standing.
  EXPECT_FALSE(c.llocs[2].aleatori);
  EXPECT_EQ(c.llocs[2].rumb, 0);
  EXPECT_EQ(c.llocs[2].vel, 0);
  ASSERT_EQ(c.objectes.size(), 2u);
  EXPECT_EQ(c.objectes[1].tipus, OBJ_MINA);
  ASSERT_EQ(c.trets.size(), 1u);
  EXPECT_NEAR(c.trets[0].vx, -10, 1e-4);
  EXPECT_EQ(c.trets[0].energia, 2);
}

TEST(Partides, ABrokenFileIsRefusedWithItsPlace) {
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
      {"games = 100001\n", ":1:9: 'games' must be from 1 to 100000"},
      {"[[shot]]\nx = 1\n", ":1:1: a shot needs x and y"},
      {"[[mine]]\ny = 1\n", ":1:1: a mine needs x and y"},
      // Every bounded key, just outside its range: the message names both ends.
      {"duration = 1e7\n", ":1:12: 'duration' must be from 0.05 to 1e+06, not 1e+07"},
      {"tick = 0.0009\n", ":1:8: 'tick' must be from 0.001 to 1, not 0.0009"},
      {"cookies = 101\n", ":1:11: 'cookies' must be from 0 to 100, not 101"},
      {"mines = -1\n", ":1:9: 'mines' must be from 0 to 100, not -1"},
      {"answer_time = 3601\n", ":1:15: 'answer_time' must be from 0.01 to 3600, not 3601"},
      {"memory_limit = -1\n", ":1:16: 'memory_limit' must be from 0 to 1048576, not -1"},
      {"process_limit = 100001\n", ":1:17: 'process_limit' must be from 0 to 100000, not 100001"},
      {"file_limit = 1048577\n", ":1:14: 'file_limit' must be from 0 to 1048576, not 1048577"},
      {"field = { width = 3, height = 4 }\n", ":1:19: 'width' must be from 4 to 1000, not 3"},
      {"field = { width = 4, height = 1001 }\n",
       ":1:31: 'height' must be from 4 to 1000, not 1001"},
      {"[[robot]]\nprogram = \"diana\"\nheading = 2e6\n",
       ":3:11: 'heading' must be from -1e+06 to 1e+06, not 2e+06"},
      {"[[shot]]\nx = 1\ny = 1\nspeed = 1001\n", ":4:9: 'speed' must be from 0 to 1000, not 1001"},
      {"[[shot]]\nx = 1\ny = 1\nenergy = -1\n", ":4:10: 'energy' must be from 0 to 1000, not -1"},
  };
  for (const auto& [text, esperat] : casos) {
    const t_fitxer f(text);
    t_config c;
    std::string error;
    EXPECT_FALSE(LlegeixPartida(f.cami, "/rivals", c, error)) << text;
    EXPECT_EQ(error.rfind(f.cami + esperat, 0), 0u) << text << "\n" << error;
  }
  // Touching the walls is inside: a robot's edge may lie on them, and on another robot's.
  for (const char* lloc : {"x = 9.5\ny = 7.5\n", "x = 0.5\ny = 0.5\n",
                           "x = 5\ny = 5\n[[robot]]\nprogram = \"diana\"\nx = 6\ny = 5\n"}) {
    const t_fitxer f(std::string("field = { width = 10, height = 8 }\n[[robot]]\nprogram = "
                                 "\"diana\"\n") +
                     lloc);
    t_config c;
    std::string error;
    EXPECT_TRUE(LlegeixPartida(f.cami, "/rivals", c, error)) << lloc << error;
  }
  t_config c;
  std::string error;
  EXPECT_FALSE(LlegeixPartida("/no/such/match.toml", "/rivals", c, error));
  EXPECT_EQ(error, "/no/such/match.toml: No such file or directory");
}

// The error LlegeixPartida gives for `text`, or "read" if it takes it.
std::string Error(const std::string& text, std::string* cami = nullptr) {
  const t_fitxer f(text);
  t_config c;
  std::string error;
  if (cami) *cami = f.cami;
  return LlegeixPartida(f.cami, "/rivals", c, error) ? "read" : error;
}

std::string Repeteix(const std::string& tros, int n) {
  std::string text;
  for (int k = 0; k < n; ++k) text += tros;
  return text;
}

TEST(Partides, NestingDeeperThanTheParserCanFollowIsRefusedWithItsPlace) {
  const std::pair<std::string, std::string> casos[] = {
      {Repeteix("a.", 100000) + "a = 1\n", ":1:64: nested more than 32 levels"},
      {"x = " + Repeteix("[", 100000) + Repeteix("]", 100000) + "\n", ":1:36: nested more"},
      {"x = " + Repeteix("{a = ", 100000) + "1" + Repeteix("}", 100000) + "\n",
       ":1:163: nested more"},
      {"[" + Repeteix("t.", 100000) + "t]\n", ":1:63: nested more"},
      {"[[" + Repeteix("t.", 40) + "t]]\n", ":1:64: nested more"},
      // Indented, a header is still one; after a key's first letter, a bracket begins none.
      {"  [" + Repeteix("t.", 40) + "t]\n", ":1:65: nested more"},
      {"x" + Repeteix("[", 40) + Repeteix("a.", 40) + "\n", ":1:105: nested more"},
      {"[a.b]\n" + Repeteix("c.", 40) + "c = 1\n", ":2:60: nested more"},
      {"x = [{a = " + Repeteix("[", 40) + "\n", ":1:40: nested more"},
      {Repeteix("a.", 32) + "a = 1\n", ":1:64: nested more"},
      // After an empty string of three quotes, what follows is no longer inside it.
      {"d = \"\"\"\"\"\"\nx = " + Repeteix("[", 100000) + "\n", ":2:36: nested more"},
      {"d = ''''''\nx = " + Repeteix("[", 100000) + "\n", ":2:36: nested more"},
      // Nor after a string of one quote, on the same line.
      {"x = [\"s\", " + Repeteix("[", 100000) + "\n", ":1:41: nested more"},
      {"x = ['s', " + Repeteix("[", 100000) + "\n", ":1:41: nested more"},
  };
  for (const auto& [text, esperat] : casos) {
    std::string cami;
    const std::string error = Error(text, &cami);
    EXPECT_EQ(error.rfind(cami + esperat, 0), 0u) << text.substr(0, 60) << "\n" << error;
  }
  // At the limit, and with brackets and dots inside strings and comments, toml++ reads it.
  EXPECT_NE(Error(Repeteix("a.", 31) + "a = 1\n").find("unknown key 'a'"), std::string::npos);
  const std::string texts = "description = \"[[[[{{ a.b.c \\\" ]]\"  # " + Repeteix("[", 50) +
                            "\n# " + Repeteix("a.", 50) + "\nseed = 4 # '\n[field]\nwidth = " +
                            "50.5\n'height' = 20\n[[robot]]\nprogram = '''" + Repeteix("{", 50) +
                            "'''\n";
  EXPECT_EQ(Error(texts), "read");
  EXPECT_EQ(Error("\xef\xbb\xbf[field]\nwidth = 50\n"), "read");
  // Many brackets, each closed before the next opens, are one level each, not one more each.
  EXPECT_NE(Error("x = [" + Repeteix("[1], ", 40) + "{a = [1]}]\n").find("unknown key 'x'"),
            std::string::npos);
  EXPECT_EQ(Error("[options]\nx = '''" + Repeteix("[", 40) + "''''\"\"\"\n").find("nested"),
            std::string::npos);
  // Of six closing quotes five end the string, two of them its own; the sixth opens a new one.
  for (const std::string q : {"\"", "'"}) {
    const std::string text = "x = " + Repeteix(q, 3) + "a" + Repeteix(q, 6) + Repeteix("[", 40);
    EXPECT_EQ(Error(text + "\n").find("nested"), std::string::npos) << text;
  }
}

TEST(Partides, NamesAndTextsAreTakenOnlyWithoutControlCharacters) {
  const std::string robot = "[[robot]]\nprogram = \"diana\"\nname = ";
  const std::pair<std::string, std::string> casos[] = {
      {robot + "\"a#b\"\n", ":3:8: a name is one word of 1 to 32 printable ASCII"},
      {robot + "\"a b\"\n", ":3:8: a name is one word"},
      {robot + "\"\"\n", ":3:8: a name is one word"},
      {robot + "\"" + std::string(33, 'x') + "\"\n", ":3:8: a name is one word"},
      {robot + "\"caf\xc3\xa9\"\n", ":3:8: a name is one word"},
      {robot + "\"a\\nb\"\n", ":3:8: 'name' must not hold control characters"},
      {robot + "\"a\\u001b[31m\"\n", ":3:8: 'name' must not hold control characters"},
      {robot + "\"a\\u0000\"\n", ":3:8: 'name' must not hold control characters"},
      {robot + "\"a\\u007f\"\n", ":3:8: 'name' must not hold control characters"},
      {"[[robot]]\nprogram = \"bot\\u0000.py\"\n", ":2:11: 'program' must not hold control"},
      {"description = \"\"\"two\nlines\"\"\"\n", ":1:15: 'description' must not hold control"},
      {"description = \"\\u0007\"\n", ":1:15: 'description' must not hold control"},
  };
  for (const auto& [text, esperat] : casos) {
    std::string cami;
    const std::string error = Error(text, &cami);
    EXPECT_EQ(error.rfind(cami + esperat, 0), 0u) << text << "\n" << error;
  }
  EXPECT_EQ(Error(robot + "\"" + std::string(32, 'x') + "\"\n"), "read");
  EXPECT_EQ(Error(robot + "\"R2-d2_(v3)!\"\n"), "read");
}

// Whatever a file holds, the reader answers: the configuration, or an error at the file.
TEST(Partides, MutatedExamplesAreReadOrRefusedNeverCrash) {
  std::vector<std::string> exemples;
  for (const auto& e : std::filesystem::directory_iterator(PARTIDES_DIR)) {
    std::ifstream in(e.path());
    std::ostringstream text;
    text << in.rdbuf();
    exemples.push_back(text.str());
  }
  ASSERT_GE(exemples.size(), 7u);
  const t_dir dir;
  const std::string cami = dir.cami + "/m.toml";
  std::mt19937 atzar(12345);
  auto Fins = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(atzar); };
  const std::string especials = "[]{}\"'#.=,\\\n \t\r\x1b\x7f\xc3\xff";
  int llegits = 0;
  for (int volta = 0; volta < 1500; ++volta) {
    std::string text = exemples[static_cast<size_t>(volta) % exemples.size()];
    for (size_t canvis = 1 + Fins(3); canvis > 0; --canvis) {
      const size_t on = Fins(text.size());
      const size_t llarg = 1 + Fins(std::min<size_t>(8, text.size() - on));
      switch (Fins(3)) {
        case 0:  // a byte changed, often for one that means something to TOML
          if (on < text.size()) {
            text[on] =
                Fins(1) ? especials[Fins(especials.size() - 1)] : static_cast<char>(Fins(255));
          }
          break;
        case 1:
          text.erase(on, llarg);
          break;
        case 2:
          text.insert(on, text.substr(on, llarg));
          break;
        default: {  // a few bytes repeated, at times enough to nest far too deep
          const int cops = Fins(7) == 0 ? 50000 : static_cast<int>(Fins(100));
          text.insert(on, Repeteix(text.substr(on, llarg), cops));
        }
      }
    }
    // Keys nested as deep as a file can hold, where a key may stand.
    if (volta % 100 == 0) text.insert(text.find('\n') + 1, Repeteix("k.", 100000));
    // Removed, not truncated: ext4 flushes a file truncated and written again to the disk.
    std::filesystem::remove(cami);
    std::ofstream(cami, std::ios::binary) << text;
    t_config c;
    std::string error;
    if (LlegeixPartida(cami, "/rivals", c, error)) {
      ++llegits;
      // Whatever it asks of the field is laid out or refused, never drawn forever.
      if (!ComprovaDisposicio(c, error)) {
        EXPECT_EQ(error.rfind("cannot lay out", 0), 0u);
      }
    } else {
      ASSERT_EQ(error.rfind(cami + ":", 0), 0u) << error;
    }
  }
  EXPECT_GT(llegits, 10);  // the mutations reach the reader's checks, not only toml++'s
}

// The arena program on a match file, its standard error kept in `dir`.
struct t_arena {
  t_fill proces;
  std::string errors;
  t_arena(const std::string& dir, const std::string& partida) {
    errors = dir + "/stderr";
    t_engegada e;
    e.ordre = {ARENA_BIN, "--transcript", dir + "/m.txt", "--match", partida};
    e.err = errors;
    EXPECT_TRUE(Engega(proces, e)) << Descriu(proces.error);
  }
  // How it ended and what it said, if it ended within 20 s; it is ended and reaped either way.
  std::string Acaba() {
    const bool acabat = EsperaFi(proces, 20000);
    const pid_t pid = proces.pid;
    Atura(proces);
    EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0 && errno == ESRCH);  // nothing of it left behind
    if (!acabat) return "still running after 20 s";
    std::ifstream in(errors);
    std::ostringstream text;
    text << in.rdbuf();
    return ComAcaba(proces.estat) + ": " + text.str();
  }
};

TEST(Partides, OnlyARegularMatchFileOfAtMostOneMebibyteIsRead) {
  const t_dir dir;
  const std::string fifo = dir.cami + "/fifo.toml";
  const std::string carpeta = dir.cami + "/carpeta.toml";
  const std::string gran = dir.cami + "/gran.toml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(carpeta.c_str(), 0700), 0);
  std::ofstream(gran) << "description = \"\"\"" << std::string(1 << 20, 'x') << "\"\"\"\n";
  // A FIFO nobody writes to would block whoever opens it to read, and /dev/zero never ends:
  // both are refused at once.
  for (const std::string& cami : {fifo, std::string("/dev/zero")}) {
    EXPECT_EQ(t_arena(dir, cami).Acaba(),
              "exited with status 2: arena: " + cami + ": is not a regular file\n");
  }
  const std::pair<std::string, std::string> casos[] = {
      {carpeta, ": is a directory"},
      {gran, ": larger than 1 MiB: not a match file"},
  };
  for (const auto& [cami, esperat] : casos) {
    t_config c;
    std::string error;
    EXPECT_FALSE(LlegeixPartida(cami, "/rivals", c, error));
    EXPECT_EQ(error, cami + esperat);
  }
  // One under the limit, or at it, is read to its last byte, even one that comes alone in the
  // last read.
  const std::string fi = "\nduration = 123";
  for (const size_t mida : {size_t{2 * 65536 + 1}, size_t{1} << 20}) {
    std::string llarg = "robot = [{ program = \"diana\" }]\n#";
    llarg += std::string(mida - llarg.size() - fi.size(), 'x') + fi;
    const t_fitxer f(llarg);
    ASSERT_EQ(std::filesystem::file_size(f.cami), mida);
    t_config c;
    std::string error;
    ASSERT_TRUE(LlegeixPartida(f.cami, "/rivals", c, error)) << error;
    EXPECT_EQ(c.durada, 123);
  }
}

TEST(Partides, AFieldWithNoRoomIsRefusedBeforeAnyRobotStarts) {
  const t_dir dir;
  // A robot that leaves a mark if it is ever started.
  const std::string marca = dir.cami + "/started";
  std::ofstream(dir.cami + "/marca.sh") << "#!/bin/sh\ntouch " << marca << "\n";
  chmod((dir.cami + "/marca.sh").c_str(), 0755);
  const std::string robot = "[[robot]]\nprogram = \"./marca.sh\"\n";
  const std::pair<std::string, std::string> casos[] = {
      {"field = { width = 4, height = 4 }\n" + robot + robot,
       "field: no room for robot 2 of 2 on 4 x 4\n"},
      {"field = { width = 10, height = 10 }\ncookies = 100\nmines = 100\n" + robot,
       "field: no room for cookie "},
      {"field = { width = 10, height = 10 }\ncookies = 0\nmines = 100\n" + robot,
       "field: no room for mine "},
      // Game 1 has room, game 7 has not: the robot stands where neither cookie fits.
      {"field = { width = 6, height = 8 }\ngames = 10\ncookies = 2\nmines = 0\n" + robot,
       "field of game 7: no room for cookie 2 of 2 on 6 x 8\n"},
  };
  for (const auto& [text, esperat] : casos) {
    std::ofstream(dir.cami + "/ple.toml") << text;
    const std::string sortida = t_arena(dir, dir.cami + "/ple.toml").Acaba();
    EXPECT_EQ(sortida.rfind("exited with status 2: arena: cannot lay out the ", 0), 0u) << sortida;
    EXPECT_NE(sortida.find(esperat), std::string::npos) << sortida;
    struct stat st;
    EXPECT_NE(stat(marca.c_str(), &st), 0);
  }
}

TEST(Partides, RandomPlacesKeepTheirDistanceAndTheSameGameGivesTheSameField) {
  t_config c;
  c.robots = std::vector<std::string>(8, kDiana);
  c.galetes = c.mines = 100;
  c.amplada = c.alcada = 100;
  c.llocs = {{50, 50, 0}};
  c.objectes = {{52, 50, OBJ_MINA}};
  t_mon mon, altre;
  std::string error;
  ASSERT_TRUE(Disposa(c, 3, mon, error)) << error;
  ASSERT_TRUE(Disposa(c, 3, altre, error)) << error;
  ASSERT_EQ(mon.robots.size(), 8u);
  ASSERT_EQ(mon.objectes.size(), 201u);
  auto Lluny = [](const auto& a, const auto& b) { return std::hypot(a.x - b.x, a.y - b.y); };
  for (size_t i = 0; i < mon.robots.size(); ++i) {
    EXPECT_EQ(mon.robots[i].x, altre.robots[i].x);
    for (size_t j = 0; j < i; ++j) EXPECT_GE(Lluny(mon.robots[i], mon.robots[j]), 4);
  }
  for (size_t i = 1; i < mon.objectes.size(); ++i) {
    EXPECT_EQ(mon.objectes[i].y, altre.objectes[i].y);
    for (size_t j = 0; j < i; ++j) EXPECT_GE(Lluny(mon.objectes[i], mon.objectes[j]), 2);
    for (const auto& r : mon.robots) EXPECT_GE(Lluny(mon.objectes[i], r), 2);
  }
  EXPECT_TRUE(ComprovaDisposicio(c, error));
  // Too full, it is refused, every robot still standing somewhere.
  c.amplada = c.alcada = 10;
  EXPECT_FALSE(Disposa(c, 1, mon, error));
  EXPECT_EQ(error.rfind("cannot lay out the field: no room for robot ", 0), 0u) << error;
  EXPECT_EQ(mon.robots.size(), 8u);
  // A match is checked for the games it plays, no more: on this crowded field seed 6 lays out
  // its game 1 and not its game 2.
  c = t_config{};
  c.robots = {kDiana, kDiana};
  c.amplada = c.alcada = 10;
  c.llavor = 6;
  EXPECT_TRUE(ComprovaDisposicio(c, error)) << error;
  c.jocs = 2;
  EXPECT_FALSE(ComprovaDisposicio(c, error));
  EXPECT_EQ(error, "cannot lay out the field of game 2: no room for mine 2 of 3 on 10 x 10");
  c.jocs = 1, c.primer_joc = 2;
  EXPECT_FALSE(ComprovaDisposicio(c, error));
}

}  // namespace
