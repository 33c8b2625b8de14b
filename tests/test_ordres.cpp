// The arena's command line without starting it: what each option puts in the record, which of
// the three modes it asks for, what is refused (with the option named, exit 2), and how the
// record goes over a match file's settings.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "arena/ordres.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

// Reads `args` as the arena's command line; what it said on standard error goes to `error`.
std::optional<int> Llegeix(std::vector<const char*> args, t_ordres& o,
                           std::string* error = nullptr) {
  args.insert(args.begin(), "arena");
  testing::internal::CaptureStderr();
  const std::optional<int> codi = LlegeixOrdres(static_cast<int>(args.size()), args.data(), o);
  const std::string dit = testing::internal::GetCapturedStderr();
  if (error) *error = dit;
  return codi;
}

TEST(LiniaOrdres, EachOptionLandsInTheRecordAndTheModeFollows) {
  t_ordres o;
  ASSERT_EQ(Llegeix({"--seed", "7", "--answer-time", "1.15", "tavik", "diana"}, o), std::nullopt);
  EXPECT_EQ(o.mode, t_mode::PARTIDA);
  EXPECT_EQ(o.llavor, 7u);
  EXPECT_EQ(o.espera_ms, 1150);
  EXPECT_FALSE(o.durada || o.jocs || o.memoria_mib);  // not given: the match file's stand
  EXPECT_EQ(o.robots, (std::vector<std::string>{"tavik", "diana"}));
  t_ordres t;
  ASSERT_EQ(Llegeix({"--seeds", "5-9", "--keep", "drops,losses", "a", "b"}, t), std::nullopt);
  EXPECT_EQ(t.mode, t_mode::TORNEIG);
  EXPECT_EQ(t.llavors.primera, 5u);
  EXPECT_EQ(t.llavors.darrera, 9u);
  EXPECT_TRUE(t.guarda_caigudes && t.guarda_derrotes && !t.guarda_tots);
  EXPECT_EQ(t.robots.size(), 2u);
  t_ordres s;
  ASSERT_EQ(Llegeix({"--sprt", "0", "20", "--beta", "0.1", "--seed", "3", "a", "b"}, s),
            std::nullopt);
  EXPECT_EQ(s.mode, t_mode::TORNEIG);
  ASSERT_TRUE(s.sprt);
  EXPECT_EQ(s.sprt->elo1, 20);
  EXPECT_EQ(s.sprt->beta, 0.1);
  EXPECT_EQ(s.llavors.primera, 3u);
  EXPECT_EQ(s.llavors.darrera, 10002u);  // ten thousand seeds at most, unless told
  t_ordres n;
  ASSERT_EQ(Llegeix({"--tournament", "4", "a", "b"}, n), std::nullopt);
  EXPECT_EQ(n.llavors.primera, 1u);
  EXPECT_EQ(n.llavors.darrera, 4u);
  const t_dir dir;
  const std::string f = dir.cami + "/r.jsonl";
  std::ofstream(f) << "";
  t_ordres r;
  ASSERT_EQ(Llegeix({"--tally", f.c_str(), f.c_str(), "--sprt", "0", "5"}, r), std::nullopt);
  EXPECT_EQ(r.mode, t_mode::RECOMPTE);
  EXPECT_EQ(r.recompte.size(), 2u);
  t_ordres ajuda;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Llegeix({"--help"}, ajuda), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("--keep"), std::string::npos);
}

TEST(LiniaOrdres, WhatCannotBeUsedIsRefusedWithTheOptionNamedBeforeAnyWork) {
  const std::pair<std::vector<const char*>, std::string> casos[] = {
      {{"--seeds", "1--5", "a"}, "--seeds: 1--5 is not a range FROM-TO of seeds"},
      {{"--seeds", "-1-5", "a"}, "--seeds: -1-5 is not a range"},
      {{"--seeds", "5x7", "a"}, "--seeds: 5x7 is not a range"},
      {{"--seeds", "1-5x", "a"}, "--seeds: 1-5x is not a range"},
      {{"--seeds", "0-", "a"}, "--seeds: 0- is not a range"},
      {{"--seeds", "9-3", "a"}, "--seeds: 9-3: TO is below FROM"},
      {{"--seeds", "0-1000000", "a"}, "--seeds: 0-1000000: more than 1000000 seeds"},
      {{"--seeds", "1-3", "--seed", "2", "a"}, "--seed"},
      {{"--tournament", "2", "--keep", "drops,lost", "a"}, "--keep: lost"},
      {{"--tournament", "2", "--keep", "", "a"}, "--keep"},
      {{"--time", "nan", "a"}, "--time: nan is not a number"},
      {{"--answer-time", "-nan", "a"}, "--answer-time"},
      {{"--seed", "-1", "a"}, "--seed: Value -1 is not a whole number"},
      {{"--seed", "5x", "a"}, "--seed: Value 5x is not a whole number"},
      {{"--seed", "18446744073709551616", "a"}, "--seed: Value 18446744073709551616 is too large"},
      {{"--sprt", "0", "1e308", "a", "b"}, "--sprt: ELO0 and ELO1 between -1000 and 1000"},
      {{"--sprt", "-1000.5", "0", "a", "b"}, "--sprt: ELO0 and ELO1 between -1000 and 1000"},
      {{"--sprt", "-3", "3", "--alpha", "0.6", "a", "b"}, "--alpha"},
      {{"--sprt", "0", "5", "--beta", "nan", "a", "b"}, "--beta: nan is not a number"},
      {{"--results", "x.jsonl", "a"}, "--results: only for a tournament"},
      {{"--jobs", "2", "a"}, "--jobs: only for a tournament"},
      {{"--tournament", "2", "--transcript", "t.txt", "a"}, "--transcript: a tournament keeps"},
      {{"--seed", "18446744073709551615", "--tournament", "2", "a"},
       "--seed: the seeds go past 2^64 - 1"},
      {{"a", "--tally", "/dev/null"}, "--tally: reads results files only, no robots"},
      {{"--tally", "/dev/null", "--time", "5"}, "--time has nothing to do there"},
      {{"--name", "a#b", "a"}, "--name: 'a#b' is not one word"},
      {{"--name", "a b", "a"}, "--name: 'a b' is not one word"},
      {{"--name", "a\x7f", "a"}, "--name: 'a\x7f' is not one word"},
      {{"--name", "", "a"}, "--name: '' is not one word"},
      {{"--name", "abcdefghijklmnopqrstuvwxyz0123456", "a"}, "is longer than 32 characters"},
      {{"--serve", "65536", "a"}, "'65536' is not [HOST:]PORT"},
      // Every bounded option, just outside its range: the message names both ends.
      {{"--time", "0.04", "a"}, "--time: Value 0.04 not in range 0.050000 to 1000000.000000"},
      {{"--tournament", "0", "a"}, "--tournament: Value 0 not in range 1 to 1000000"},
      {{"--sprt", "0", "5", "--alpha", "0.5", "a", "b"},
       "--alpha: Value 0.5 not in range 0.001000 to 0.499000"},
      {{"--sprt", "0", "5", "--beta", "0.0009", "a", "b"},
       "--beta: Value 0.0009 not in range 0.001000 to 0.499000"},
      {{"--tournament", "2", "-j", "1025", "a"}, "--jobs: Value 1025 not in range 1 to 1024"},
      {{"--games", "100001", "a"}, "--games: Value 100001 not in range 1 to 100000"},
      {{"--first-game", "0", "a"}, "--first-game: Value 0 not in range 1 to 100000"},
      {{"--answer-time", "3601", "a"},
       "--answer-time: Value 3601 not in range 0.010000 to 3600.000000"},
      {{"--mem-limit", "1048577", "a"}, "--mem-limit: Value 1048577 not in range 0 to 1048576"},
      {{"--proc-limit", "100001", "a"}, "--proc-limit: Value 100001 not in range 0 to 100000"},
      {{"--file-limit", "-1", "a"}, "--file-limit: Value -1 not in range 0 to 1048576"},
  };
  for (const auto& [args, esperat] : casos) {
    t_ordres o;
    std::string error;
    EXPECT_EQ(Llegeix(args, o, &error), 2) << esperat;
    EXPECT_EQ(error.rfind("arena: ", 0), 0u) << error;
    EXPECT_NE(error.find(esperat), std::string::npos) << error;
  }
  // The longest name there may be is taken, and so is every bounded option at its ends.
  const std::vector<const char*> preses[] = {
      {"--name", "abcdefghijklmnopqrstuvwxyz012345", "a"},
      {"--sprt", "-1000", "1000", "--alpha", "0.001", "--beta", "0.499", "a", "b"},
      {"--time", "0.05", "--answer-time", "3600", "--games", "100000", "--first-game", "1", "a"},
      {"--tournament", "1000000", "-j", "1024", "--mem-limit", "0", "--proc-limit", "100000", "a"},
  };
  for (const auto& args : preses) {
    t_ordres o;
    std::string error;
    EXPECT_EQ(Llegeix(args, o, &error), std::nullopt) << error;
  }
}

TEST(LiniaOrdres, TheCommandLineGoesOverTheMatchFileAndReplacesItsRobotsInOrder) {
  const t_dir dir;
  const std::string partida = dir.cami + "/m.toml";
  std::ofstream(partida) << "seed = 5\nduration = 12\ngames = 2\n"
                         << "answer_time = 9\nmemory_limit = 100\nprocess_limit = 3\n"
                         << "file_limit = 2\n"
                         << "[[robot]]\nprogram = \"diana\"\nname = \"Primer\"\n"
                         << "[[robot]]\nprogram = \"diana\"\nname = \"Segon\"\n";
  t_ordres o;
  ASSERT_EQ(Llegeix({"--match", partida.c_str(), "--time", "3", "--no-sandbox", "--mem-limit",
                     "300", "--proc-limit", "9", "--file-limit", "5", "--first-game", "2", "diana"},
                    o),
            std::nullopt);
  t_config c;
  std::ostringstream avisos;
  std::string error;
  ASSERT_TRUE(Configura(o, "/rivals", avisos, c, error)) << error;
  EXPECT_EQ(c.llavor, 5u);  // the file's, not given on the command line
  EXPECT_EQ(c.durada, 3);
  EXPECT_EQ(c.jocs, 2);
  EXPECT_EQ(c.primer_joc, 2);
  EXPECT_EQ(c.espera_ms, 9000);
  EXPECT_EQ(c.limits.memoria_mib, 300);
  EXPECT_EQ(c.limits.processos, 9);
  EXPECT_EQ(c.max_fitxer_mib, 5);
  EXPECT_FALSE(c.aillat);
  EXPECT_EQ(c.noms, (std::vector<std::string>{"", "Segon"}));
  EXPECT_EQ(avisos.str(), "Robot 1 of " + partida + " (diana) replaced by diana\n");
  // A tournament's field is laid out, and checked, as its first seed will be.
  t_ordres t;
  ASSERT_EQ(Llegeix({"--match", partida.c_str(), "--seeds", "40-41"}, t), std::nullopt);
  t_config ct;
  ASSERT_TRUE(Configura(t, "/rivals", avisos, ct, error)) << error;
  EXPECT_EQ(ct.llavor, 40u);
  // More names than robots, or no robot at all.
  t_ordres noms;
  ASSERT_EQ(Llegeix({"--name", "a", "--name", "b", "diana"}, noms), std::nullopt);
  t_config cn;
  EXPECT_FALSE(Configura(noms, "/rivals", avisos, cn, error));
  EXPECT_EQ(error, "--name: 2 names for 1 robots");
  t_ordres nou;
  ASSERT_EQ(
      Llegeix({"diana", "diana", "diana", "diana", "diana", "diana", "diana", "diana", "diana"},
              nou),
      std::nullopt);
  t_config c9;
  EXPECT_FALSE(Configura(nou, "/rivals", avisos, c9, error));
  EXPECT_EQ(error, "ROBOT: at most eight robots, 9 given");
  t_ordres cap;
  ASSERT_EQ(Llegeix({"--time", "2"}, cap), std::nullopt);
  t_config cc;
  EXPECT_FALSE(Configura(cap, "/rivals", avisos, cc, error));
  EXPECT_EQ(error, "ROBOT is required (or a match file with robots)");
}

// Where the live view listens: the loopback unless a host is given, an IPv6 host in brackets,
// a port of at most five digits up to 65535.
TEST(LiniaOrdres, TheLiveViewsAddressIsAPortWithAnOptionalHost) {
  const std::pair<std::string, std::pair<std::string, int>> bones[] = {
      {"8080", {"127.0.0.1", 8080}},
      {"0.0.0.0:0", {"0.0.0.0", 0}},
      {"[::1]:65535", {"::1", 65535}},
      {"localhost:00080", {"localhost", 80}},
  };
  for (const auto& [text, esperat] : bones) {
    t_adreca a;
    EXPECT_EQ(LlegeixAdreca(text, a), "") << text;
    EXPECT_EQ(a.host, esperat.first) << text;
    EXPECT_EQ(a.port, esperat.second) << text;
  }
  for (const std::string dolenta : {"65536", "123456", "8a", "host:", "", ":80", "[]:80"}) {
    t_adreca a;
    EXPECT_NE(LlegeixAdreca(dolenta, a), "") << dolenta;
  }
}

}  // namespace
