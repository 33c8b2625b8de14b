// The arena's command line for tournaments, run as a robot author runs it: records and kept games,
// the test's arguments and its decision, drops with their reasons, failed writes, robots of one
// name, stderr files, --resume, and a tournament on two threads interrupted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "arena/proces.h"
#include "arena/registre.h"
#include "arena/taula.h"
#include "tests/executa.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

const std::string kRobots = ROBOTS_DIR;

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

// Runs the arena with `args` in `dir`, as a shell would.
t_sortida Arena(const std::string& dir, const std::string& args) {
  return Executa(dir, std::string(ARENA_BIN) + " " + args);
}

bool Te(const std::string& text, const std::string& que) {
  return text.find(que) != std::string::npos;
}

// A kept game is the very game its replay command plays again. Of a game of a series, where
// the robots started before the first game and end after the last, the game itself: from its
// options to its end.
void TornaAJugar(const t_dir& dir, const json& r, bool serie = false) {
  std::string ordre = r.at("replay").get<std::string>();
  ordre = ordre.substr(ordre.find(' ') + 1) + " --transcript again.txt";
  EXPECT_EQ(Arena(dir, ordre).codi, 0) << ordre;
  auto Joc = [serie](const std::string& text) {
    if (!serie) return text;
    const size_t inici = text.find("> GameOption 0 "), fi = text.rfind("> GameFinishes\n");
    if (inici == std::string::npos || fi == std::string::npos) return std::string("no game");
    return text.substr(text.rfind('\n', inici) + 1, fi - text.rfind('\n', inici));
  };
  EXPECT_EQ(Joc(Llegeix(dir.cami + "/" + r.at("files")[0].get<std::string>())),
            Joc(Llegeix(dir.cami + "/again.txt")))
      << ordre;
}

TEST(OrdresTorneig, EveryGameIsALineOfJsonAndTheGamesThatMatterAreKept) {
  const t_dir dir;
  const t_sortida s =
      Arena(dir, "--tournament 4 --time 10 --keep drops,losses --results r.jsonl tavik cacador");
  EXPECT_EQ(s.codi, 0) << s.out << s.err;
  EXPECT_TRUE(Te(s.out, "Tavik#1 against Cacador#2 (each seed from both places)")) << s.out;
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir.cami + "/r.jsonl"}, registres, error)) << error;
  ASSERT_EQ(registres.size(), 8u);  // four seeds, each from both places
  EXPECT_EQ(TaulaResultats(registres, std::nullopt), s.out);
  const t_sortida recompte = Arena(dir, "--tally r.jsonl");  // the same table, from the file
  EXPECT_EQ(recompte.codi, 0) << recompte.err;
  EXPECT_EQ(recompte.out, s.out);
  const t_sortida sprt = Arena(dir, "--tally r.jsonl --sprt 0 20");  // two robots: it can test
  EXPECT_EQ(sprt.codi, 0) << sprt.err;
  EXPECT_TRUE(Te(sprt.out, "SPRT")) << sprt.out;
  int guardats = 0;
  for (const auto& r : registres) {
    for (const char* camp :
         {"seed", "game", "swapped", "robots", "winner", "ticks", "replay", "files"}) {
      EXPECT_TRUE(r.contains(camp)) << camp;
    }
    for (const auto& robot : r.at("robots")) {
      for (const char* camp : {"name", "program", "x", "y", "heading", "energy", "shots", "hits",
                               "cookies", "mines", "cpu", "status", "reason", "points"}) {
        EXPECT_TRUE(robot.contains(camp)) << camp;
      }
    }
    if (r.at("files").empty()) continue;
    ++guardats;
    TornaAJugar(dir, r);
  }
  EXPECT_GT(guardats, 0);
}

// Every progress line's time left agrees with its count and rate, as far as their rounding lets
// it: what is left to play at the rate shown.
void ElTempsQuedaQuadra(const std::string& progres) {
  int vistes = 0;
  for (size_t on = progres.find(" games/s, "); on != std::string::npos;
       on = progres.find(" games/s, ", on + 1)) {
    size_t des = progres.find_last_of("\r\n", on);
    des = des == std::string::npos ? 0 : des + 1;
    if (progres.compare(des, 3, "\033[K") == 0) des += 3;
    unsigned long fets = 0, total = 0;
    double ritme = 0, falta = 0;
    const char* linia = progres.c_str() + des;
    if (std::sscanf(linia, "%lu/%lu games, %lf games/s, %lf s left", &fets, &total, &ritme,
                    &falta) != 4 &&
        std::sscanf(linia, "%lu/%lu games, %lf games/s, at most %lf s left", &fets, &total, &ritme,
                    &falta) != 4) {
      ADD_FAILURE() << linia;
      continue;
    }
    ++vistes;
    const double queden = static_cast<double>(total - fets);
    if (ritme <= 0.05) continue;
    EXPECT_GE(falta, queden / (ritme + 0.05) - 0.5) << linia;
    EXPECT_LE(falta, queden / (ritme - 0.05) + 0.5) << linia;
  }
  EXPECT_GT(vistes, 0) << progres;
}

// Progress is one line rewritten in place on a terminal, and whole lines anywhere else, where
// escape sequences would only clutter a log.
TEST(OrdresTorneig, ProgressIsRewrittenInPlaceOnlyOnATerminal) {
  const t_dir dir;
  const std::string torneig =
      " --tournament 1 --time 1 --overwrite --results r.jsonl tavik cacador";
  const t_sortida s = Arena(dir, torneig);
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_FALSE(Te(s.err, "\033[K")) << s.err;
  // script(1) runs the arena on a terminal of its own and passes on what it shows.
  const t_sortida terminal = Executa(dir.cami, "script -qec '" ARENA_BIN + torneig + "' /dev/null");
  EXPECT_EQ(terminal.codi, 0) << terminal.out << terminal.err;
  EXPECT_TRUE(Te(terminal.out, "\r\033[K2/2 games")) << terminal.out;
  ElTempsQuedaQuadra(s.err);
  ElTempsQuedaQuadra(terminal.out);
}

// The progress line's Elo is the table's, give or take half the table's interval.
TEST(OrdresTorneig, TheProgressGivesTheTablesEloAndHalfItsInterval) {
  const t_dir dir;
  const t_sortida s = Arena(dir, std::string("--tournament 8 --time 5 ") + TAVIK_BIN + " rodamon");
  ASSERT_EQ(s.codi, 0) << s.err;
  const size_t progres = s.err.rfind(", Elo "), taula = s.out.find("Elo difference: ");
  ASSERT_NE(progres, std::string::npos) << s.err;
  ASSERT_NE(taula, std::string::npos) << s.out;
  double elo = 0, mig = 0, elo_taula = 0, baix = 0, alt = 0;
  ASSERT_EQ(std::sscanf(s.err.c_str() + progres, ", Elo %lf \u00b1 %lf", &elo, &mig), 2) << s.err;
  ASSERT_EQ(std::sscanf(s.out.c_str() + taula, "Elo difference: %lf (95%%: %lf to %lf)", &elo_taula,
                        &baix, &alt),
            3)
      << s.out;
  EXPECT_NEAR(elo, elo_taula, 0.05);
  EXPECT_NEAR(mig, (alt - baix) / 2, 0.1);
}

// Started with its standard input closed, as a service may start it, the arena plays and keeps
// everything: the first file it opens takes descriptor 0.
TEST(OrdresTorneig, AnArenaWithoutStandardInputPlaysAndKeepsItsFiles) {
  const t_dir dir;
  t_sortida s = Executa(dir.cami, "{ " ARENA_BIN " --time 1 tavik diana <&-; }");
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(Llegeix(dir.cami + "/out/match-1.txt"), "Initialize 1")) << s.out;
  s = Executa(dir.cami,
              "{ " ARENA_BIN " --tournament 2 --time 1 --results r.jsonl tavik diana <&-; }");
  EXPECT_EQ(s.codi, 0) << s.err;
  std::vector<json> registres;
  std::string error;
  EXPECT_TRUE(LlegeixResultats({dir.cami + "/r.jsonl"}, registres, error)) << error;
  EXPECT_EQ(registres.size(), 4u);
}

// A seed of several games keeps each under its number, and each plays again alone.
TEST(OrdresTorneig, EachGameOfASeedIsKeptUnderItsNumber) {
  const t_dir dir;
  const t_sortida s =
      Arena(dir, "--tournament 1 --games 2 --time 5 --keep all --results r.jsonl tavik cacador");
  ASSERT_EQ(s.codi, 0) << s.out << s.err;
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir.cami + "/r.jsonl"}, registres, error)) << error;
  ASSERT_EQ(registres.size(), 4u);  // two games from each place
  for (const auto& r : registres) {
    const std::string txt = r.at("files")[0].get<std::string>();
    EXPECT_TRUE(Te(txt, ".g" + std::to_string(r.at("game").get<int>()) + ".txt")) << txt;
    TornaAJugar(dir, r, true);
  }
}

TEST(OrdresTorneig, TheTestStopsByItselfWithItsDecision) {
  const t_dir dir;
  const std::string torneig = "--sprt 0 20 --time 20 --results r.jsonl tavik diana";
  const t_sortida s = Arena(dir, torneig);
  EXPECT_EQ(s.codi, 0) << s.out << s.err;
  EXPECT_TRUE(Te(s.out, ": H1 accepted after ")) << s.out;
  EXPECT_TRUE(Te(s.out, "Elo difference: +")) << s.out;
  // Resumed once decided, it plays no game more and says the same.
  const std::string registres = Llegeix(dir.cami + "/r.jsonl");
  const t_sortida represa = Arena(dir, torneig + " --resume");
  EXPECT_EQ(represa.codi, 0) << represa.err;
  EXPECT_EQ(Llegeix(dir.cami + "/r.jsonl"), registres);
  EXPECT_EQ(represa.out, s.out);
}

TEST(OrdresTorneig, TheTestTakesTwoNumbersTheRobotsFollowAndEveryModeDecides) {
  const t_dir dir;
  const std::string duel = std::string(" --time 20 ") + TAVIK_BIN + " diana";
  t_sortida s = Arena(dir, "--sprt 0 20" + duel);
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(s.out, "H1 accepted after ")) << s.out;
  EXPECT_TRUE(Te(s.err, "LLR ")) << s.err;  // shown while it runs
  s = Arena(dir, "--sprt 0 20 --alpha 0.1 --beta 0.2 --results b.jsonl" + duel);
  EXPECT_TRUE(Te(s.out, "(alpha 0.1, beta 0.2)")) << s.out << s.err;
  s = Arena(dir, "--sprt 0 20 --unpaired --results c.jsonl" + duel);
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(s.out, "H1 accepted after ")) << s.out;
  EXPECT_TRUE(Te(s.out, " games\n")) << s.out;
  s = Arena(dir, "--sprt 0 20 --results d.jsonl" + duel + " cacador");
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "--sprt: the test compares two robots; 3 given")) << s.err;
}

TEST(OrdresTorneig, ACrashingRobotsDropsAreCountedWithReasonAndStandardError) {
  const t_dir dir;
  const std::string peta = "'" + kRobots + "/queixa.sh " + kRobots + "/peta.sh'";
  const t_sortida s = Arena(
      dir, "--tournament 2 --time 2 --keep drops --results r.jsonl " + peta + " " + TAVIK_BIN);
  ASSERT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(s.out, "queixa.sh#1                6      0      0   0.500       4\n") ||
              Te(s.out, "Games with a drop: 4\n"))
      << s.out;
  EXPECT_TRUE(Te(s.out, "dropped in 4 games, most often (4): killed by signal 11 (SIGSEGV)"))
      << s.out;
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir.cami + "/r.jsonl"}, registres, error)) << error;
  for (const auto& r : registres) {
    const json& f = r["robots"][r["swapped"].get<bool>() ? 1 : 0];
    EXPECT_EQ(f["status"], "dropped");
    ASSERT_TRUE(f["stderr"].is_string()) << r;
    const std::string err = f["stderr"];
    EXPECT_EQ(Llegeix(dir.cami + "/" + err), "queixa: something went wrong\n") << err;
    EXPECT_NE(std::find(r["files"].begin(), r["files"].end(), err), r["files"].end());
    EXPECT_TRUE(Te(s.err, "kept: " + err + "\n")) << s.err;
    // Its replay shows what it wrote there.
    EXPECT_TRUE(Te(Llegeix(dir.cami + "/" + r["files"][1].get<std::string>()),
                   "\"stderr_tail\":[\"queixa: something went wrong\"]"));
  }
}

TEST(OrdresTorneig, NothingIsLostInSilenceOrOverwrittenBySurprise) {
  const t_dir dir;
  const std::string duel = std::string(" --time 2 ") + TAVIK_BIN + " cacador";
  t_sortida s = Arena(dir, "--tournament 2 --results /dev/full" + duel);
  EXPECT_EQ(s.codi, 1);
  EXPECT_TRUE(Te(s.err, "arena: cannot write /dev/full: No space left on device")) << s.err;
  ASSERT_EQ(Arena(dir, "--tournament 2" + duel).codi, 0);
  // A results file is made as any file of its user: readable by all, written by its owner.
  struct stat st;
  ASSERT_EQ(stat((dir.cami + "/out/tournament-1-2.jsonl").c_str(), &st), 0);
  const mode_t mascara = umask(0);
  umask(mascara);
  EXPECT_EQ(st.st_mode & 07777, 0644 & ~mascara);
  s = Arena(dir, "--tournament 2" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "already holds results: --resume")) << s.err;
  EXPECT_EQ(Arena(dir, "--tournament 2 --overwrite" + duel).codi, 0);
  s = Arena(dir, "--tournament 2 --results out" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "arena: cannot write out: is a directory\n")) << s.err;
  // A match's page that cannot be written once it is over (its place taken meanwhile, here by
  // a robot) is said, and the match fails.
  std::ofstream(dir.cami + "/tapa.sh")
      << "#!/bin/sh\nmkdir -p out/match-1.html\nexec " TAVIK_BIN "\n";
  chmod((dir.cami + "/tapa.sh").c_str(), 0755);
  s = Arena(dir, "--no-sandbox --time 1 ./tapa.sh cacador");
  EXPECT_EQ(s.codi, 1) << s.err;
  EXPECT_TRUE(Te(s.err, "arena: cannot write out/match-1.html")) << s.err;
  EXPECT_TRUE(Te(s.out, "Picture: out/match-1.svg")) << s.out;
  // So is a results file removed while the tournament runs (here by a robot): the games written
  // to it are nowhere.
  std::ofstream(dir.cami + "/treu.sh") << "#!/bin/sh\nrm -f r.jsonl\nexec " TAVIK_BIN "\n";
  chmod((dir.cami + "/treu.sh").c_str(), 0755);
  s = Arena(dir, "--no-sandbox --tournament 1 --time 1 --results r.jsonl ./treu.sh cacador");
  EXPECT_EQ(s.codi, 1) << s.err;
  EXPECT_TRUE(Te(s.err, "arena: cannot write r.jsonl: it was removed while the tournament ran"))
      << s.err;
  // Options that cannot go together, or would do nothing, are refused.
  for (const std::string mal :
       {"--seeds 1-4 --tournament 10", "--results x.jsonl", "--keep all",
        "--transcript /dev/stdout", "--tournament 2 --transcript t.txt", "--seeds 1--5",
        "--mem-limit 18014398509481984", "--file-limit 17592186044416"}) {
    s = Arena(dir, mal + duel);
    EXPECT_EQ(s.codi, 2) << mal;
    EXPECT_TRUE(Te(s.err, "arena: ")) << mal;
  }
}

TEST(OrdresTorneig, TwoProgramsOfOneNameAreToldApartOrNamed) {
  const t_dir dir;
  std::filesystem::create_directory(dir.cami + "/old");
  std::filesystem::copy_file(TAVIK_BIN, dir.cami + "/old/tavik");
  const std::string duel = std::string(" --time 2 ./old/tavik ") + TAVIK_BIN;
  t_sortida s = Arena(dir, "--tournament 1" + duel);
  EXPECT_TRUE(Te(s.out, std::string("Tavik#1 (./old/tavik) against Tavik#2 (") + TAVIK_BIN + ")"))
      << s.out;
  s = Arena(dir, "--tournament 1 --name old --name new --overwrite" + duel);
  EXPECT_TRUE(Te(s.out, "old#1 against new#2 ")) << s.out;
  // One name for the first robot only: it stays with that robot when places are swapped.
  s = Arena(dir, "--tournament 1 --name old --results una.jsonl" + duel);
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir.cami + "/una.jsonl"}, registres, error)) << error;
  for (const auto& r : registres) {
    for (const auto& f : r["robots"]) {
      EXPECT_EQ(f["name"].get<std::string>().rfind("old#", 0) == 0, f["program"] == "./old/tavik")
          << r;
    }
  }
  EXPECT_EQ(Arena(dir, "--name a#b" + duel).codi, 2);
}

// A robot is known by its program's file name; one found in PATH (an interpreter) by the first
// of its arguments that is a regular file, and by its own name if none is.
TEST(OrdresTorneig, ARobotIsNamedByItsProgramOrTheFileItsInterpreterRuns) {
  const t_dir dir;
  std::ofstream(dir.cami + "/bot.py") << "";
  EXPECT_EQ(NomRobot("./old/tavik --fast"), "tavik");
  EXPECT_EQ(NomRobot("python3 -u " + dir.cami + "/bot.py"), "bot.py");
  EXPECT_EQ(NomRobot("python3 -u " + dir.cami), "python3");  // a folder is no script
  EXPECT_EQ(NomRobot("./run.sh " + dir.cami + "/bot.py"), "run.sh");
  EXPECT_EQ(NomFitxer("a/b c'd"), "a_b_c_d");
  // A program whose path holds a space is that program, not a command with arguments: it runs,
  // and names itself.
  std::filesystem::copy_file(TAVIK_BIN, dir.cami + "/my bot");
  const t_sortida s = Arena(dir, "--time 1 './my bot' diana");
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(s.out, "\nTavik#1 ")) << s.out;
}

TEST(OrdresTorneig, EachTranscriptKeepsItsOwnStandardErrorFiles) {
  const t_dir dir;
  const std::string queixa = " '" + kRobots + "/queixa.sh " + CACADOR_BIN + "' diana";
  ASSERT_EQ(Arena(dir, "--time 1 --transcript a.txt" + queixa).codi, 0);
  ASSERT_EQ(Arena(dir, "--time 1 --transcript b.txt" + queixa).codi, 0);
  EXPECT_EQ(Llegeix(dir.cami + "/a.queixa.sh#1.err"), "queixa: something went wrong\n");
  EXPECT_EQ(Llegeix(dir.cami + "/b.queixa.sh#1.err"), "queixa: something went wrong\n");
  // A name that looks like a path stays a file name in the transcript's folder.
  ASSERT_EQ(Arena(dir, "--time 1 --transcript c.txt --name ../x" + queixa).codi, 0);
  EXPECT_EQ(Llegeix(dir.cami + "/c..._x#1.err"), "queixa: something went wrong\n");
  // Only a dot within the file's own name begins an extension.
  std::filesystem::create_directory(dir.cami + "/d.x");
  for (const std::string t : {".t", "d.x/t"}) {
    ASSERT_EQ(Arena(dir, "--time 1 --transcript " + t + queixa).codi, 0);
    EXPECT_EQ(Llegeix(dir.cami + "/" + t + ".queixa.sh#1.err"), "queixa: something went wrong\n");
  }
}

TEST(OrdresTorneig, ACommandLineRobotReplacesOnlyItsPlaceInAMatchFile) {
  const t_dir dir;
  const t_sortida s =
      Arena(dir, std::string("--match ") + PARTIDES_DIR + "/duel.toml --time 1 " + TAVIK_BIN);
  EXPECT_EQ(s.codi, 0) << s.err;
  EXPECT_TRUE(Te(s.out, "Robot 1 of ")) << s.out;
  EXPECT_TRUE(Te(s.out, std::string(") replaced by ") + TAVIK_BIN)) << s.out;
  EXPECT_TRUE(Te(s.out, "#2 ")) << s.out;  // the file's second robot still plays
}

TEST(OrdresTorneig, AnInterruptedTournamentIsResumedToTheSameTable) {
  const t_dir dir;
  // The first robot counts the games it is started for.
  const std::string duel = " --tournament 3 --time 3 --results r.jsonl '" + kRobots +
                           "/compta.sh " + dir.cami + "/starts " + TAVIK_BIN + "' cacador";
  const t_sortida tot = Arena(dir, duel);
  ASSERT_EQ(tot.codi, 0) << tot.err;
  // As if killed while it wrote its fourth record.
  std::ifstream in(dir.cami + "/r.jsonl");
  std::string linies, l;
  for (int k = 0; k < 3 && std::getline(in, l); ++k) linies += l + "\n";
  std::getline(in, l);
  in.close();
  std::ofstream(dir.cami + "/r.jsonl") << linies << l.substr(0, l.size() / 2);
  const t_sortida represa = Arena(dir, duel + " --resume");
  EXPECT_EQ(represa.codi, 0) << represa.err;
  EXPECT_EQ(represa.out, tot.out);
  EXPECT_TRUE(Te(represa.err, "3 games in ")) << represa.err;
  EXPECT_TRUE(Te(represa.err, "besides the 3 resumed")) << represa.err;
  // Only the games not recorded were played again.
  const std::string comptats = Llegeix(dir.cami + "/starts");
  EXPECT_EQ(std::count(comptats.begin(), comptats.end(), '\n'), 6 + 3) << comptats;
  // Resumed once it is complete, it plays nothing and gives the same table.
  const t_sortida complet = Arena(dir, duel + " --resume");
  EXPECT_EQ(complet.codi, 0) << complet.err;
  EXPECT_EQ(complet.out, tot.out);
  EXPECT_EQ(Llegeix(dir.cami + "/starts"), comptats);
  // Another tournament may not be continued into the same file.
  const t_sortida altre = Arena(dir, duel + " --resume --unpaired");
  EXPECT_EQ(altre.codi, 2);
  EXPECT_TRUE(Te(altre.err, "another tournament (paired false against true)")) << altre.err;
}

TEST(OrdresTorneig, AProgramNameThatIsNotUtf8LeavesValidRecords) {
  const t_dir dir;
  std::filesystem::copy_file(TAVIK_BIN, dir.cami + "/rob\xf2t");
  const t_sortida s = Arena(dir, "--tournament 1 --time 2 --results r.jsonl ./rob?t cacador");
  ASSERT_EQ(s.codi, 0) << s.err;
  std::vector<json> registres;
  std::string error;
  ASSERT_TRUE(LlegeixResultats({dir.cami + "/r.jsonl"}, registres, error)) << error;
  ASSERT_EQ(registres.size(), 2u);
  // Kept as an escape, and the replay command quotes the byte so that it still runs.
  for (const auto& r : registres) {
    EXPECT_EQ(r["tournament"]["programs"][0], "./rob\\xF2t");
    EXPECT_NE(r["replay"].get<std::string>().find("$'./rob\\xf2t'"), std::string::npos) << r;
  }
  const std::string ordre = registres[0]["replay"];
  std::ofstream(dir.cami + "/torna.sh")
      << "cd " << dir.cami << " && " << ordre << " --transcript x.txt >/dev/null 2>&1\n";
  const int estat = std::system(("bash " + dir.cami + "/torna.sh").c_str());
  EXPECT_TRUE(WIFEXITED(estat) && WEXITSTATUS(estat) == 0) << ordre;
  const t_sortida represa =
      Arena(dir, "--tournament 2 --time 2 --results r.jsonl --resume ./rob?t cacador");
  EXPECT_EQ(represa.codi, 0) << represa.err;
  EXPECT_TRUE(Te(represa.err, "besides the 2 resumed")) << represa.err;
}

TEST(OrdresTorneig, TheArenasOwnTroublesAreNeitherDropsNorSuccess) {
  const t_dir dir;
  // A robot whose stderr file cannot be made (its name is too long for a file name): the
  // arena cannot start it, which is no robot's fault.
  const std::string llarg = std::string(250, 'q');
  std::filesystem::copy_file(kRobots + "/queixa.sh", dir.cami + "/" + llarg);
  t_sortida s = Arena(
      dir, "--tournament 1 --time 2 --results r.jsonl './" + llarg + " " + CACADOR_BIN + "' diana");
  EXPECT_EQ(s.codi, 1) << s.out << s.err;
  EXPECT_TRUE(Te(s.err, "arena: cannot start a robot: ")) << s.err;
  EXPECT_EQ(Llegeix(dir.cami + "/r.jsonl"), "");
  // A field that has room for seed 1's layout and not for seed 2's: the game is not played
  // with a cookie missing and recorded as if it were the game asked for.
  std::ofstream(dir.cami + "/ple.toml") << "field = { width = 6, height = 8 }\ncookies = 2\n"
                                        << "mines = 0\n[[robot]]\nprogram = \"diana\"\n";
  s = Arena(dir, "--match ple.toml --seeds 1-3 --time 0.1 -j 1 --results p.jsonl");
  EXPECT_EQ(s.codi, 1) << s.out << s.err;
  EXPECT_TRUE(Te(s.err, "arena: cannot lay out the field: no room for cookie 2 of 2")) << s.err;
  EXPECT_TRUE(Te(s.out, "Tournament: 1 games, seeds 1 to 1")) << s.out;
  // The table that cannot be written; a folder for kept games that is a file.
  const std::string duel = std::string(" --time 2 ") + TAVIK_BIN + " cacador";
  s = Arena(dir, "--tournament 1 --overwrite --results r.jsonl" + duel + " >/dev/full");
  EXPECT_EQ(s.codi, 1);
  EXPECT_TRUE(Te(s.err, "arena: cannot write to standard output")) << s.err;
  EXPECT_EQ(Arena(dir, "--tally r.jsonl >/dev/full").codi, 1);
  std::ofstream(dir.cami + "/f") << "x";
  s = Arena(dir, "--tournament 1 --results f.jsonl" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "cannot keep games in f: not a folder")) << s.err;
}

TEST(OrdresTorneig, AResultsFileIsOnlyEverWrittenByOneArenaOfItsTournament) {
  const t_dir dir;
  const std::string duel = std::string(" --time 2 ") + TAVIK_BIN + " cacador";
  // A file that is no tournament's: --resume refuses it and leaves it as it was.
  std::ofstream(dir.cami + "/notes.txt") << "a\nlast";
  t_sortida s = Arena(dir, "--tournament 1 --resume --results notes.txt" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_EQ(Llegeix(dir.cami + "/notes.txt"), "a\nlast");
  // Other seeds than those recorded, and a file another process holds.
  ASSERT_EQ(Arena(dir, "--tournament 2 --results r.jsonl" + duel).codi, 0);
  s = Arena(dir, "--seeds 5-6 --resume --results r.jsonl" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "holds seed 1, outside 5-6")) << s.err;
  const int fd = open((dir.cami + "/r.jsonl").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  s = Arena(dir, "--tournament 2 --overwrite --results r.jsonl" + duel);
  close(fd);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "another arena is writing it")) << s.err;
  EXPECT_NE(Llegeix(dir.cami + "/r.jsonl"), "");
  // A tally reads files, and nothing but files, and takes no other task.
  ASSERT_EQ(mkfifo((dir.cami + "/fifo").c_str(), 0600), 0);
  for (const std::string& mal : std::vector<std::string>{
           "--tally fifo", "--tally r.jsonl --unpaired", "--tally r.jsonl --time 5",
           "--sprt 0 1e308" + duel, "--sprt -3 3 --alpha 0.6" + duel, "--keep ''" + duel}) {
    s = Arena(dir, mal);
    EXPECT_EQ(s.codi, 2) << mal << s.out;
    EXPECT_TRUE(Te(s.err, "arena: ")) << mal << s.err;
  }
}

// SIGTERM to a tournament that plays two matches at once: it stops starting matches, reports
// those it finished and exits with 128 + 15; under ThreadSanitizer, without a report.
TEST(OrdresTorneig, AnInterruptedTournamentOnTwoThreadsStopsCleanly) {
  const t_dir dir;
  const std::string resultats = dir.cami + "/r.jsonl";
  t_engegada e;
  e.ordre = {"/bin/sh", "-c",      "cd \"$0\" && exec \"$@\"",
             dir.cami,  ARENA_BIN, "--tournament",
             "200",     "--time",  "5",
             "-j",      "2",       "--results",
             resultats, TAVIK_BIN, CACADOR_BIN};
  e.err = dir.cami + "/stderr";
  e.aillat = false;
  t_fill arena;
  ASSERT_TRUE(Engega(arena, e)) << Descriu(arena.error);
  ASSERT_GT(arena.pid, 1);  // only ever a process this test started
  // Once it has finished a few games, and is playing more.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto Registres = [&] {
    const std::string r = Llegeix(resultats);
    return std::count(r.begin(), r.end(), '\n');
  };
  while (Registres() < 3 && std::chrono::steady_clock::now() < limit) usleep(10000);
  EXPECT_GE(Registres(), 3);
  kill(arena.pid, SIGTERM);
  const bool acabat = EsperaFi(arena, 60000);
  Atura(arena);
  ASSERT_TRUE(acabat) << "the arena did not end";
  EXPECT_EQ(ComAcaba(arena.estat), "exited with status 143");
  std::string sortida;
  for (const auto& l : arena.linies) sortida += l + "\n";
  EXPECT_TRUE(Te(sortida, "Interrupted: the table counts the ")) << sortida;
  EXPECT_TRUE(Te(sortida, "Tavik")) << sortida;
  const std::string errors = Llegeix(e.err);
  EXPECT_FALSE(Te(errors, "ThreadSanitizer")) << errors;
}

}  // namespace
