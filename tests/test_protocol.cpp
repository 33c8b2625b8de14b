// The whole protocol and series of games: a probe robot that records what it receives sees every
// message the arena sends over a three-game series; names, colours and decimal commas in
// commands; a series replays byte for byte and its games can be played on their own; the
// template robots play.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "arena/partida.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

std::vector<std::string> LiniesDe(const std::string& cami) {
  std::ifstream f(cami);
  std::vector<std::string> linies;
  for (std::string l; std::getline(f, l);) linies.push_back(l);
  return linies;
}

// Two probes and a sitting target; shots already flying kill the target, then the first probe,
// which ends each game: every message has a reason to be sent.
t_config Sondes(const std::string& dir) {
  t_config c;
  c.llavor = 11;
  c.durada = 5;
  c.jocs = 3;
  c.robots = {std::string(SONDA_BIN) + " " + dir + "/u",
              std::string(SONDA_BIN) + " " + dir + "/dos", kDiana};
  c.llocs = {{10, 15, 0}, {30, 15, 0}, {20, 25, 0}};
  for (int k = 0; k < 12; ++k) {
    c.trets.push_back({20, 20 - 0.6 * k, 0, 10, 5, -1});
    c.trets.push_back({10, 5 - 0.6 * k, 0, 10, 5, -1});
  }
  return c;
}

TEST(Protocol, AProbeSeesEveryMessageOverASeries) {
  const t_dir dir;
  const t_config c = Sondes(dir.cami);
  const std::vector<t_resultat> jocs = JugaSerie(c);
  ASSERT_EQ(jocs.size(), 3u);
  std::set<std::string> paraules;
  int comencen = 0;
  for (const char* qui : {"/u", "/dos"}) {
    for (const auto& l : LiniesDe(dir.cami + qui)) {
      paraules.insert(l.substr(0, l.find(' ')));
      comencen += l == "GameStarts";
    }
  }
  for (const char* m :
       {"Initialize", "YourName", "YourColour", "GameOption", "GameStarts", "Radar", "Info",
        "Coordinates", "RobotInfo", "RotationReached", "Energy", "RobotsLeft", "Collision",
        "Warning", "Dead", "GameFinishes", "ExitRobot"}) {
    EXPECT_EQ(paraules.count(m), 1u) << m;
  }
  EXPECT_EQ(comencen, 6);  // the probe that died in one game played the next
  const std::vector<std::string> u = LiniesDe(dir.cami + "/u");
  auto Rep = [&](const std::string& l) { return std::find(u.begin(), u.end(), l) != u.end(); };
  // A name is one word: cut at its first blank, with a warning, and made unique.
  EXPECT_TRUE(Rep("Warning 2 name cut at its first blank: Sonda"));
  EXPECT_TRUE(Rep("YourName Sonda#1"));
  // Both its colours are the field's: it gets the first free one of the palette.
  EXPECT_TRUE(Rep("YourColour 0x2b7bd6"));
  EXPECT_TRUE(Rep("Warning 1 Bogus 1"));
  // "Accelerate 0,5" is 0.5 units/s²: 0.025 units/s after a tick, less the drag.
  EXPECT_TRUE(Rep("Info 0.05 0.02475 0"));
  EXPECT_TRUE(Rep("Coordinates 10 15 0"));
  EXPECT_EQ(jocs[0].fitxes[0].nom, "Sonda#1");
  EXPECT_EQ(jocs[0].fitxes[0].color, "#2b7bd6");
  EXPECT_EQ(jocs[0].fitxes[1].color, "#d64b2b");
  EXPECT_EQ(Descriu(jocs[0].fitxes[0].desenllac), "dead");
  EXPECT_EQ(Descriu(jocs[1].fitxes[0].desenllac), "dead");
  // What the probes printed and drew is kept for the replay, numbers read as numbers.
  bool imprimit = false, cercle = false;
  for (const auto& n : jocs[0].notes) {
    imprimit |= n.robot == 0 && n.linia == "Print hello, world";
    cercle |= n.robot == 1 && n.linia == "DebugCircle 10.5 15 2";
  }
  EXPECT_TRUE(imprimit);
  EXPECT_TRUE(cercle);
}

TEST(Protocol, ASeriesReplaysByteForByte) {
  const t_dir u, dos;
  const auto a = JugaSerie(Sondes(u.cami)), b = JugaSerie(Sondes(dos.cami));
  ASSERT_EQ(a.size(), b.size());
  for (size_t k = 0; k < a.size(); ++k) EXPECT_EQ(a[k].transcripcio, b[k].transcripcio) << k;
}

// The end of a game is a batch of its own: what a robot answers to it is heard before the robot
// is told to go, and what it says as it goes is kept too. (Its input opened again, a shell's
// read blocks.)
TEST(Protocol, ARobotsAnswerToTheEndOfItsGameIsHeardBeforeItIsToldToGo) {
  const t_dir dir;
  std::ofstream(dir.cami + "/adeu.sh")
      << "#!/bin/sh\nexec </proc/self/fd/0\nwhile read l; do\n  case $l in\n"
         "    GameFinishes*) echo 'Print bye' ;;\n    ExitRobot*) echo 'Print gone'; exit 0 ;;\n"
         "  esac\ndone\n";
  t_config c;
  c.durada = 1;
  chmod((dir.cami + "/adeu.sh").c_str(), 0755);
  c.robots = {dir.cami + "/adeu.sh", "diana"};
  const t_resultat r = JugaPartida(c);
  std::vector<std::string> final;
  const std::string nom = " adeu.sh#1 ";
  for (const auto& l : r.transcripcio) {
    const size_t on = l.find(nom);
    const std::string text = on == std::string::npos ? "" : l.substr(on + nom.size());
    if (!text.empty() && (!final.empty() || text == "> GameFinishes")) final.push_back(text);
  }
  EXPECT_EQ(final, (std::vector<std::string>{"> GameFinishes", "< Print bye", "> ExitRobot",
                                             "< Print gone"}));
}

// A command line is read whole however its bytes come: here its newline comes alone, two ticks
// after the rest, in a read of one byte.
TEST(Protocol, ALineWhoseNewlineComesAloneTicksLaterIsReadWhole) {
  const t_dir dir;
  std::ofstream(dir.cami + "/tard.sh")
      << "#!/bin/sh\nexec </proc/self/fd/0\nprintf 'Print hi'\nn=0\nwhile read l; do\n"
         "  case $l in\n    Info*) n=$((n + 1)); [ $n = 2 ] && printf '\\n' ;;\n"
         "    ExitRobot*) exit 0 ;;\n  esac\ndone\n";
  chmod((dir.cami + "/tard.sh").c_str(), 0755);
  t_config c;
  c.durada = 1;
  c.robots = {dir.cami + "/tard.sh", "diana"};
  const t_resultat r = JugaPartida(c);
  const auto& t = r.transcripcio;
  EXPECT_EQ(std::count(t.begin(), t.end(), "0.05 tard.sh#1 < Print hi"), 1);
}

// The lines of the robot named `nom` from its game's first option to GameFinishes.
std::vector<std::string> LiniesDelJoc(const t_resultat& r, const std::string& nom) {
  std::vector<std::string> linies;
  bool dins = false;
  for (const auto& l : r.transcripcio) {
    std::istringstream in(l);
    std::string temps, qui;
    in >> temps >> qui;
    if (qui != nom) continue;
    dins = dins || l.find("> GameOption") != std::string::npos;
    if (dins) linies.push_back(l);
    if (l.find("> GameFinishes") != std::string::npos) break;
  }
  return linies;
}

TEST(Protocol, AGameOfASeriesPlaysTheSameOnItsOwn) {
  t_config c;
  c.llavor = 4;
  c.durada = 10;
  c.jocs = 3;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  const std::vector<t_resultat> serie = JugaSerie(c);
  ASSERT_EQ(serie.size(), 3u);
  c.jocs = 1;
  c.primer_joc = 2;
  const std::vector<t_resultat> sol = JugaSerie(c);
  ASSERT_EQ(sol.size(), 1u);
  EXPECT_EQ(sol[0].joc, 2);
  const auto en_serie = LiniesDelJoc(serie[1], "Tavik#1");
  EXPECT_GT(en_serie.size(), 400u);
  EXPECT_EQ(en_serie, LiniesDelJoc(sol[0], "Tavik#1"));
  // Each game is laid out by the seed and its number.
  EXPECT_NE(serie[0].objectes.front().second[0].x, serie[1].objectes.front().second[0].x);
}

TEST(Protocol, TheTemplateRobotsPlay) {
  for (const std::string& robot :
       {std::string(PLANTILLA_BIN), "python3 " + std::string(EXAMPLES_DIR) + "/plantilla.py"}) {
    t_config c;
    c.durada = 5;
    c.robots = {robot, kDiana};
    const t_resultat r = JugaPartida(c);
    EXPECT_EQ(r.fitxes[0].nom, "Plantilla#1") << robot;
    EXPECT_EQ(Descriu(r.fitxes[0].desenllac), "alive") << robot;
    for (const auto& l : r.transcripcio) {
      EXPECT_EQ(l.find("> Warning"), std::string::npos) << robot << ": " << l;
    }
  }
}

}  // namespace
