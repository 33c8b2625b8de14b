// The arena's command line for tournaments, run as a robot author runs it: the test's arguments,
// drops with their reasons, failed writes, robots of one name, stderr files, --resume.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "arena/torneig.h"
#include "tests/temporal.h"

namespace {

const std::string kRobots = ROBOTS_DIR;

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

struct t_sortida {
  int codi = -1;
  std::string out, err;
};

// Runs the arena with `args` in `dir`, as a shell would.
t_sortida Arena(const std::string& dir, const std::string& args) {
  t_sortida s;
  const std::string ordre =
      "cd " + dir + " && " + ARENA_BIN + " " + args + " 2>" + dir + "/.err </dev/null";
  FILE* p = popen(ordre.c_str(), "r");
  if (!p) return s;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) s.out.append(buf, n);
  const int estat = pclose(p);
  s.codi = WIFEXITED(estat) ? WEXITSTATUS(estat) : 128 + WTERMSIG(estat);
  s.err = Llegeix(dir + "/.err");
  return s;
}

bool Te(const std::string& text, const std::string& que) {
  return text.find(que) != std::string::npos;
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
  const t_sortida s =
      Arena(dir, "--tournament 2 --time 2 --results r.jsonl " + peta + " " + TAVIK_BIN);
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
  }
}

TEST(OrdresTorneig, NothingIsLostInSilenceOrOverwrittenBySurprise) {
  const t_dir dir;
  const std::string duel = std::string(" --time 2 ") + TAVIK_BIN + " cacador";
  t_sortida s = Arena(dir, "--tournament 2 --results /dev/full" + duel);
  EXPECT_EQ(s.codi, 1);
  EXPECT_TRUE(Te(s.err, "arena: cannot write /dev/full: No space left on device")) << s.err;
  ASSERT_EQ(Arena(dir, "--tournament 2" + duel).codi, 0);
  s = Arena(dir, "--tournament 2" + duel);
  EXPECT_EQ(s.codi, 2);
  EXPECT_TRUE(Te(s.err, "already holds results: --resume")) << s.err;
  EXPECT_EQ(Arena(dir, "--tournament 2 --overwrite" + duel).codi, 0);
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
  EXPECT_EQ(Arena(dir, "--name a/b" + duel).codi, 2);
}

TEST(OrdresTorneig, EachTranscriptKeepsItsOwnStandardErrorFiles) {
  const t_dir dir;
  const std::string queixa = " '" + kRobots + "/queixa.sh " + CACADOR_BIN + "' diana";
  ASSERT_EQ(Arena(dir, "--time 1 --transcript a.txt" + queixa).codi, 0);
  ASSERT_EQ(Arena(dir, "--time 1 --transcript b.txt" + queixa).codi, 0);
  EXPECT_EQ(Llegeix(dir.cami + "/a.queixa.sh#1.err"), "queixa: something went wrong\n");
  EXPECT_EQ(Llegeix(dir.cami + "/b.queixa.sh#1.err"), "queixa: something went wrong\n");
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
  const std::string duel =
      std::string(" --tournament 3 --time 3 --results r.jsonl ") + TAVIK_BIN + " cacador";
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
  for (const auto& r : registres) EXPECT_EQ(r["tournament"]["programs"][0], "./rob\xef\xbf\xbdt");
}

}  // namespace
