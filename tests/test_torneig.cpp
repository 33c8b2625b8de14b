// The tournament's scheduler, called directly: the same seeds give the same table whatever order
// the threads finish them in; and how a game's points are given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "arena/sortida.h"
#include "arena/taula.h"
#include "arena/torneig.h"

using namespace arena;

namespace {

TEST(Torneig, ATournamentGivesTheSameTableTwice) {
  t_config c;
  c.llavor = 5;
  c.durada = 15;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  t_torneig t;
  t.primera = 1;
  t.darrera = 10;
  t.resultats = "/dev/null";
  std::ostringstream progres;
  const std::string una = TaulaResultats(JugaTorneig(c, t, progres), t.sprt);
  EXPECT_EQ(una, TaulaResultats(JugaTorneig(c, t, progres), t.sprt));
  EXPECT_NE(una.find("Tournament: 20 games, seeds 1 to 10"), std::string::npos) << una;
}

TEST(Torneig, AResultThatCannotBeWrittenStartsNoFurtherGame) {
  t_config c;
  c.durada = 2;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  t_torneig t;
  t.primera = 1;
  t.darrera = 10;
  t.fils = 1;
  t.resultats = "/dev/full";
  t.progres_terminal = true;
  size_t acabades = 0;  // progress reports: the start, each unit that ended, the close
  t.en_progres = [&](size_t, size_t, const t_pentanomi&) { ++acabades; };
  std::ostringstream progres;
  std::string error;
  EXPECT_TRUE(JugaTorneig(c, t, progres, &error).empty());
  EXPECT_EQ(error, "cannot write /dev/full: No space left on device");
  EXPECT_EQ(acabades, 3u);  // the start, the one unit whose record failed, the close
  // No game was counted: the line says so without a time left of its own invention.
  EXPECT_TRUE(progres.str().find("\r\033[K0/20 games, 0.0 games/s, 0 s left\n") !=
              std::string::npos)
      << progres.str();
  // Whatever stops a write is the reason given: the disk is full only when nothing was written.
  const int lectura = open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_FALSE(EscriuTot(lectura, "x"));
  EXPECT_EQ(errno, EBADF);
  close(lectura);
}

// Called as a library, the scheduler opens the results file itself: a new tournament replaces
// what was there, a resumed one adds to it, and either way the file is readable by all.
TEST(Torneig, ItsOwnResultsFileIsReplacedOrAddedToAndReadable) {
  char dir[] = "/tmp/torneigXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  t_config c;
  c.durada = 1;
  c.robots = {TAVIK_BIN, CACADOR_BIN};
  t_torneig t;
  t.resultats = std::string(dir) + "/r.jsonl";
  t.dir_guardats = std::string(dir) + "/out";
  std::ostringstream progres;
  auto Linies = [&] {
    std::ifstream f(t.resultats);
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);) v.push_back(l);
    return v;
  };
  std::vector<json> fets = JugaTorneig(c, t, progres);
  ASSERT_EQ(fets.size(), 2u);
  struct stat st {};
  ASSERT_EQ(stat(t.resultats.c_str(), &st), 0);
  const mode_t mascara = umask(0);
  umask(mascara);
  EXPECT_EQ(st.st_mode & 0777, 0644u & ~mascara);
  std::ofstream(t.resultats, std::ios::app) << "stale\nstale\nstale\n";
  EXPECT_EQ(JugaTorneig(c, t, progres).size(), 2u);
  EXPECT_EQ(Linies().size(), 2u);  // replaced, not added to
  t.primera = t.darrera = 2;
  t.previs = fets;
  EXPECT_EQ(JugaTorneig(c, t, progres).size(), 4u);
  EXPECT_EQ(Linies().size(), 4u);  // the resumed tournament's two games after the first two
  unlink(t.resultats.c_str());
  rmdir(dir);
}

}  // namespace
