// Results files read back: files that are not one tournament refused with their lines, a broken
// record an error with its place and never a crash, and a file cut short mended for --resume.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "arena/registre.h"
#include "arena/taula.h"
#include "tests/registres.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

std::string Escriu(const std::string& cami, const std::vector<std::string>& linies) {
  std::ofstream f(cami);
  for (const auto& l : linies) f << l << "\n";
  return cami;
}

TEST(Resultats, FilesThatAreNotOneTournamentAreRefusedWithTheirLines) {
  const t_dir dir;
  const std::string a =
      Escriu(dir.cami + "/a.jsonl", {Complet(1, false, 1).dump(), Complet(1, true, 0.5).dump()});
  const std::string b = Escriu(dir.cami + "/b.jsonl", {Complet(2, false, 1).dump()});
  std::vector<json> r;
  std::string error;
  EXPECT_TRUE(LlegeixResultats({a, b}, r, error)) << error;
  EXPECT_EQ(r.size(), 3u);

  const std::pair<std::vector<std::string>, std::string> casos[] = {
      // One file twice, or the same game in two files.
      {{a, a}, a + ": the same file as " + a},
      {{a, Escriu(dir.cami + "/c.jsonl", {"", Complet(1, true, 1).dump()})},
       a + ":2 and " + dir.cami + "/c.jsonl:2: the same game (seed 1, game 1, swapped)"},
      // Another tournament: another second program.
      {{a, Escriu(dir.cami + "/d.jsonl", {Complet(3, false, 1, "./c").dump()})},
       dir.cami +
           "/d.jsonl:1: another tournament (programs [\"./a\",\"./b\"] against "
           "[\"./a\",\"./c\"]) than " +
           a + ":1"},
  };
  for (const auto& [fitxers, esperat] : casos) {
    r.clear();
    EXPECT_FALSE(LlegeixResultats(fitxers, r, error));
    EXPECT_EQ(error.substr(0, esperat.size()), esperat);
  }
}

// A whole record of seed 1, game 1, with one change.
template <class F>
std::string Canvia(F canvi) {
  json r = Complet(1, false, 1);
  canvi(r);
  return r.dump();
}

TEST(Resultats, ABrokenRecordIsAnErrorWithItsPlaceNeverACrash) {
  const t_dir dir;
  json sense_versio = Complet(1, false, 1);
  sense_versio.erase("version");
  json punts = Complet(1, false, 1);
  punts["robots"][0]["points"] = -5e6;  // once an index out of bounds in the table
  json tres = Complet(1, true, 1);
  tres["robots"].push_back(tres["robots"][0]);
  json text = Complet(1, false, 1);
  text["seed"] = "1";
  json joc = Complet(1, false, 1);
  joc["game"] = 7;  // in a tournament of one game
  json sol = Complet(1, true, 1, "./b", false);
  json durada = Complet(1, false, 1);
  durada["duration"] = 999;
  const std::pair<std::string, std::string> casos[] = {
      {sense_versio.dump(), "older format"},
      {punts.dump(), "points not between 0 and 1"},
      {tres.dump(), "swapped, but not two robots"},
      {text.dump(), "no seed"},
      {joc.dump(), "game 7 is not one of its tournament's"},
      {sol.dump(), "swapped, in an unpaired tournament"},
      {durada.dump(), "without its games, first game, pairing or duration"},
      {std::string(100000, '[') + std::string(100000, ']'), "not a game's record"},
      // A record is three levels deep: one that holds more is refused, wherever the depth is.
      {Canvia([](json& r) {
         json x = json::array();
         for (int k = 0; k < 8; ++k) x = json::array({x});
         r["robots"][0]["x"] = x;
       }),
       "not a game's record"},
      // Each field the table or a tally reads, missing or of the wrong type or range.
      {Canvia([](json& r) { r["version"] = 99; }), "a record of format version 99"},
      {Canvia([](json& r) { r["game"] = 0; }), "no game number"},
      {Canvia([](json& r) { r["game"] = 3000000000u; }), "no game number"},
      {Canvia([](json& r) { r.erase("swapped"); }), "no 'swapped'"},
      {Canvia([](json& r) { r["duration"] = "60"; }), "no duration"},
      {Canvia([](json& r) { r.erase("tournament"); }), "no 'tournament'"},
      {Canvia([](json& r) { r["tournament"]["games"] = 0; }), "without its games"},
      {Canvia([](json& r) { r["tournament"]["games"] = 1000001; }), "without its games"},
      {Canvia([](json& r) { r["tournament"]["paired"] = 1; }), "without its games"},
      {Canvia([](json& r) { r["tournament"]["first_game"] = 2; }),
       "game 1 is not one of its tournament's"},
      {Canvia([](json& r) { r.erase("files"); }), "no 'files'"},
      {Canvia([](json& r) {
         r["files"] = {"a", 3};
       }),
       "a file that is not a path"},
      {Canvia([](json& r) { r["robots"] = json::array(); }), "not one to eight robots"},
      {Canvia([](json& r) { r["robots"] = "A#1"; }), "not one to eight robots"},
      {Canvia([](json& r) {
         for (int k = 0; k < 7; ++k) r["robots"].push_back(r["robots"][0]);
       }),
       "not one to eight robots"},
      {Canvia([](json& r) { r["tournament"]["programs"].push_back("./c"); }),
       "its robots are not its tournament's"},
      {Canvia([](json& r) { r["robots"][1] = 5; }), "a robot that is not an object"},
      {Canvia([](json& r) { r["robots"][1]["status"] = 5; }), "robot without a text 'status'"},
      {Canvia([](json& r) { r["robots"][1].erase("cpu"); }), "robot without a number 'cpu'"},
      {Canvia([](json& r) { r["robots"][1]["hits"] = -1; }), "robot without a count 'hits'"},
      {Canvia([](json& r) { r["robots"][1]["mines"] = 3000000000u; }),
       "robot without a count 'mines'"},
      {Canvia([](json& r) { r["robots"][1]["y"] = -2e6; }), "a place, energy or cpu out of range"},
      {Canvia([](json& r) { r["robots"][1]["energy"] = 2e9; }),
       "a place, energy or cpu out of range"},
      {Canvia([](json& r) { r["robots"][1]["cpu"] = -1; }), "a place, energy or cpu out of range"},
      {Canvia([](json& r) { r["robots"][1]["status"] = "zombie"; }), "unknown status 'zombie'"},
      {Canvia([](json& r) { r["robots"][1]["points"] = 1.5; }), "points not between 0 and 1"},
      {Canvia([](json& r) { r["robots"][1]["stderr"] = 5; }), "a stderr that is not a path"},
      {"{\"seed\": 1,", "not a line of JSON"},
      {std::string((size_t{1} << 20) + 1, ' '), "a line longer than 1 MiB"},
  };
  for (const auto& [linia, esperat] : casos) {
    std::vector<json> r;
    std::string error;
    const std::string f = Escriu(dir.cami + "/r.jsonl", {Complet(2, false, 0).dump(), linia});
    EXPECT_FALSE(LlegeixResultats({f}, r, error)) << esperat;
    EXPECT_EQ(error.rfind(f + ":2: ", 0), 0u) << error;
    EXPECT_NE(error.find(esperat), std::string::npos) << error;
  }
  // The largest count a record may hold is still a count, and brackets in a text are text, not
  // nesting.
  for (const std::string& linia :
       {Canvia([](json& g) { g["robots"][1]["shots"] = INT_MAX; }),
        Canvia([](json& g) { g["robots"][1]["reason"] = std::string(20, '[') + "\\\"{"; })}) {
    std::vector<json> r;
    std::string error;
    const std::string f = Escriu(dir.cami + "/r.jsonl", {linia});
    EXPECT_TRUE(LlegeixResultats({f}, r, error)) << error;
  }
  // Whatever a mutated file holds, it is read or refused; what is read makes a table.
  std::mt19937 atzar(7);
  const std::string bo = Complet(3, false, 0.5).dump();
  for (int k = 0; k < 300; ++k) {
    std::string linia = bo;
    for (int m = 0; m < 3; ++m) {
      const size_t i = atzar() % linia.size();
      linia[i] = "0123456789-e.,:{}[]\"ab"[atzar() % 22];
    }
    std::vector<json> r;
    std::string error;
    const std::string f = Escriu(dir.cami + "/m.jsonl", {linia});
    EXPECT_NO_THROW(if (LlegeixResultats({f}, r, error)) TaulaResultats(r, t_sprt{}));
  }
}

TEST(Resultats, AContinuedFileLosesOnlyTheLineCutShort) {
  const t_dir dir;
  const std::string sencer = Complet(1, false, 1).dump();
  for (const auto& [final, linies] :
       std::vector<std::pair<std::string, size_t>>{{sencer.substr(0, 40), 1}, {sencer, 2}}) {
    const std::string f = dir.cami + "/r.jsonl";
    std::ofstream(f) << Complet(1, true, 1).dump() << "\n" << final;
    std::string error;
    ASSERT_TRUE(ReparaFinal(f, error)) << error;
    std::vector<json> r;
    EXPECT_TRUE(LlegeixResultats({f}, r, error)) << error;
    EXPECT_EQ(r.size(), linies);
  }
}

// A game's record carries the command that plays it again: every word a shell would split or
// change is quoted, and bytes that are not printable ASCII (DEL included) go as $'\xNN'.
TEST(Resultats, TheReplayCommandOfARecordRunsAsItIsWritten) {
  t_config c;
  c.robots = {"./a", "my bot's", std::string("./b\x7f"), "./caf\xc3\xa9"};
  c.noms = {"", "", "", ""};
  c.durada = 2.5;
  t_torneig t;
  t.arena = "./arena";
  t_resultat r;
  r.llavor = 7;
  r.quadres.push_back({0, std::vector<t_cos_robot>(4), {}, {}});
  r.fitxes.resize(4);
  const json registre = Registre(c, t, Empremta(c, t), r, false, {});
  EXPECT_EQ(registre.at("replay").get<std::string>(),
            "./arena --seed 7 --time 2.5 ./a 'my bot'\\''s' $'./b\\x7f' $'./caf\\xc3\\xa9'");
}

}  // namespace
