// Robot text as data and the arena's memory bounded: bytes that are not UTF-8 and control
// characters kept as escapes, pages no name can break, budgets, the streamed transcript.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "arena/partida.h"
#include "arena/proces.h"
#include "arena/repeticio.h"
#include "arena/text.h"
#include "arena/transcripcio.h"
#include "tests/temporal.h"

using namespace arena;

using json = nlohmann::json;

namespace {

// The probe robot, asking for the name and printing the text it is given.
std::string Sonda(const std::string& nom, const std::string& text) {
  return std::string(SONDA_BIN) + " /dev/null " + nom + " " + text;
}

std::string Llegeix(const std::string& cami) {
  std::ifstream f(cami);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

// The match's data, parsed back out of its replay page.
json Dades(const std::string& pagina) {
  const std::string obre = "<script id=\"dades\" type=\"application/json\">";
  const size_t a = pagina.find(obre);
  if (a == std::string::npos) return nullptr;
  const size_t b = pagina.find("</script>", a);
  return json::parse(pagina.substr(a + obre.size(), b - a - obre.size()), nullptr, false);
}

// Nothing a terminal takes for control (ESC above all), and nothing that is not UTF-8.
bool Net(const std::string& text) {
  const bool sense_control = std::all_of(text.begin(), text.end(), [](char c) {
    return c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  });
  try {
    (void)json(text).dump();
  } catch (const json::exception&) {
    return false;
  }
  return sense_control;
}

// The children this test process has, from /proc: none may be left after an arena has ended.
size_t Fills() {
  size_t n = 0;
  for (const auto& t : std::filesystem::directory_iterator("/proc/self/task")) {
    std::istringstream in(Llegeix(t.path().string() + "/children"));
    for (pid_t f; in >> f;) ++n;
  }
  return n;
}

// The arena program run to its end (within a deadline) in `dir`.
struct t_arena {
  int estat = -1;
  std::string sortida, errors;
  long max_rss_kib = 0;
};

t_arena Arena(const std::string& dir, std::vector<std::string> args, int ms = 120000) {
  t_arena a;
  args.insert(args.begin(), ARENA_BIN);
  t_engegada e;
  e.ordre = args;
  e.err = dir + "/stderr";
  e.max_fitxer_mib = 0;  // the arena's own files are what is measured
  t_fill f;
  EXPECT_TRUE(Engega(f, e)) << Descriu(f.error);
  const bool acabat = EsperaFi(f, ms);
  EXPECT_TRUE(acabat) << "the arena did not end in time";
  if (acabat) {
    a.estat = f.estat;
    a.max_rss_kib = f.us.ru_maxrss;
  }
  for (const auto& l : f.linies) a.sortida += l + "\n";
  Atura(f);
  a.errors = Llegeix(e.err);
  return a;
}

TEST(Text, PrintableTextStaysAndEverythingElseIsEscaped) {
  const std::pair<std::string, std::string> casos[] = {
      {"Print hello, world", "Print hello, world"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\xF2z", "a\\xF2z"},
      {"\x1B[2Jx", "\\x1B[2Jx"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"tab\there\r", "tab\\x09here\\x0D"},
      {"del\x7F", "del\\x7F"},
      {"20\xC2\xB0 \xC2\xA3", "20\xC2\xB0 \xC2\xA3"},  // the lowest lead byte of two
      {"c1\xC2\x9B", "c1\\xC2\\x9B"},                  // U+009B, the one-byte CSI
      {"\xC0\xAF overlong", "\\xC0\\xAF overlong"},    // '/' written in two bytes
      {"\xED\xA0\x80 surrogate", "\\xED\\xA0\\x80 surrogate"},
      {"\xF4\x90\x80\x80 beyond", "\\xF4\\x90\\x80\\x80 beyond"},
      {"cut \xE2\x82", "cut \\xE2\\x82"},
      {"\\x41 stays", "\\x41 stays"},
  };
  for (const auto& [brut, net] : casos) {
    EXPECT_EQ(TextNet(brut), net) << net;
    EXPECT_EQ(TextNet(TextNet(brut)), net) << "not stable: " << net;
    EXPECT_NO_THROW(json(TextNet(brut)).dump()) << net;
    // What is found printable ASCII, and so not copied, is what TextNet leaves as it is.
    const bool ascii = std::all_of(brut.begin(), brut.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    EXPECT_EQ(Imprimible(brut), brut == net && ascii) << net;
  }
  EXPECT_TRUE(Imprimible(" ~"));
  EXPECT_FALSE(Imprimible(std::string_view("a\0b", 3)));
}

// Robots named after the page's own markers and markup, printing them too.
const char* const kHostils[] = {"@DATA@",
                                "//@JS@",
                                "/*@CSS@*/",
                                "</script><script>alert(1)</script>",
                                "<img/src=x/onerror=alert(2)>",
                                "@TITLE@\"'&"};
const char* const kPrint = "</script>@DATA@//@JS@/*@CSS@*/<!--\\xF2";

TEST(Text, NoRobotTextChangesTheReplayPage) {
  t_config c;
  c.llavor = 5;
  c.durada = 0.5;
  c.espera_ms = 5000;
  for (const char* nom : kHostils) c.robots.push_back(Sonda(nom, kPrint));
  const std::vector<t_resultat> jocs = JugaSerie(c);
  const std::string pagina = PaginaRepeticio(c, jocs);
  const json d = Dades(pagina);
  ASSERT_TRUE(d.is_object()) << "the page's data does not parse";
  const json& joc = d.at("games").at(0);
  ASSERT_EQ(joc.at("robots").size(), c.robots.size());
  for (size_t i = 0; i < c.robots.size(); ++i) {
    EXPECT_EQ(joc.at("robots").at(i).at("name"), kHostils[i] + ("#" + std::to_string(i + 1)));
  }
  size_t prints = 0;
  for (const auto& n : joc.at("notes")) {
    prints += n.at(2) == std::string("Print ") + kPrint;
  }
  EXPECT_EQ(prints, c.robots.size());
  // The page's own parts went in once each, at their places, and the names only as text.
  const std::string fi = "</script></body></html>\n";
  EXPECT_EQ(pagina.substr(pagina.size() - fi.size()), fi);
  size_t scripts = 0;
  for (size_t p = 0; (p = pagina.find("<script", p)) != std::string::npos; ++p) ++scripts;
  EXPECT_EQ(scripts, 2u);
  EXPECT_EQ(pagina.find("<img"), std::string::npos);
  EXPECT_NE(pagina.find("&#60;img/src=x/onerror=alert(2)&#62;#5"), std::string::npos);
}

TEST(Text, RobotBytesReachNoTerminalRaw) {
  const t_dir dir;
  // A program whose file name is not UTF-8 and holds ESC; a busy one whose process name does.
  const std::string parla = dir.cami + "/b\xF2t\x1B[7m", ocupat = dir.cami + "/\x1B[2Joc";
  ASSERT_EQ(symlink(SONDA_BIN, parla.c_str()), 0);
  ASSERT_EQ(symlink((std::string(ROBOTS_DIR) + "/ocupat.sh").c_str(), ocupat.c_str()), 0);
  const std::string txt = dir.cami + "/m.txt";
  const t_arena a = Arena(dir, {"--seed", "1", "--time", "2", "--answer-time", "1", "--transcript",
                                txt, parla + " /dev/null Bad\\xF2 caf\\xE9\\x1B[2Jx", ocupat});
  EXPECT_EQ(ComAcaba(a.estat), "exited with status 0") << a.errors;
  const std::string transcripcio = Llegeix(txt), pagina = Llegeix(dir.cami + "/m.html");
  for (const std::string* text : {&a.sortida, &a.errors, &transcripcio, &pagina}) {
    EXPECT_TRUE(Net(*text)) << *text;
  }
  EXPECT_NE(a.sortida.find("b\\xF2t\\x1B[7m#1"), std::string::npos) << a.sortida;
  EXPECT_NE(a.sortida.find("dropped: no answer in time (process "), std::string::npos);
  EXPECT_NE(a.sortida.find("(\\x1B[2Joc)"), std::string::npos) << a.sortida;
  EXPECT_NE(transcripcio.find("b\\xF2t\\x1B[7m#1 < Print caf\\xE9\\x1B[2Jx\n"), std::string::npos);
  EXPECT_NE(transcripcio.find("< Name Bad\\xF2\n"), std::string::npos);
  const json d = Dades(pagina);
  ASSERT_TRUE(d.is_object()) << "the page's data does not parse";
  EXPECT_EQ(d.at("games").at(0).at("robots").at(0).at("name"), "b\\xF2t\\x1B[7m#1");
  EXPECT_EQ(d.at("games").at(0).at("notes").at(0).at(2), "Print caf\\xE9\\x1B[2Jx");
  EXPECT_EQ(Fills(), 0u);
}

#ifdef TAVIK_SANITIZE
constexpr bool kSanejat = true;
#else
constexpr bool kSanejat = false;
#endif

TEST(Memoria, APrintFloodKeepsTheArenaSmall) {
  const t_dir dir;
  const std::string txt = dir.cami + "/m.txt";
  // Just under the flood rule every tick: 100 MB of Print lines in 5 s of game time.
  const t_arena a = Arena(dir,
                          {"--seed", "1", "--time", "5", "--transcript", txt,
                           std::string(XERRAIRE_BIN) + " 1000000", "diana"},
                          600000);
  EXPECT_EQ(ComAcaba(a.estat), "exited with status 0") << a.errors;
  // AddressSanitizer keeps freed memory in quarantine (256 MiB) beside its shadow.
  const long limit_kib = kSanejat ? 1024 * 1024 : 300 * 1024;
  EXPECT_LT(a.max_rss_kib, limit_kib) << "peak resident memory of the arena, KiB";
  std::ifstream f(txt);
  size_t notes = 0, bytes = 0;
  for (std::string l; std::getline(f, l);) {
    notes += l.find(" ! output beyond 64 MiB not recorded") != std::string::npos;
    bytes += l.size() + 1;
  }
  EXPECT_EQ(notes, 1u);
  EXPECT_LT(bytes, size_t{66} << 20);
  const json d = Dades(Llegeix(dir.cami + "/m.html"));
  ASSERT_TRUE(d.is_object()) << "the page's data does not parse";
  EXPECT_EQ(d.at("games").at(0).at("notes").back().at(2),
            "! Print and Debug beyond 256 KiB not kept for the replay");
  EXPECT_EQ(Fills(), 0u);
}

TEST(Memoria, AMatchTooLongToRecordIsRefusedBeforeAnyRobotStarts) {
  const t_dir dir;
  const std::string txt = dir.cami + "/m.txt";
  std::vector<std::string> args = {"--time", "100000", "--transcript", txt};
  args.insert(args.end(), 8, "diana");
  const t_arena a = Arena(dir, args);
  EXPECT_EQ(ComAcaba(a.estat), "exited with status 2");
  EXPECT_NE(a.errors.find("too long to record: 8 robots for 2000001 ticks"), std::string::npos)
      << a.errors;
  EXPECT_EQ(a.sortida, "");
  struct stat st;
  EXPECT_NE(stat(txt.c_str(), &st), 0);
  // An hour of eight robots is recorded whole, and so is a long match of one.
  t_config c;
  c.durada = 3600;
  c.robots.assign(8, "diana");
  EXPECT_EQ(MassaLlarga(c), "");
  c.robots.assign(1, "diana");
  c.durada = 90000;
  EXPECT_EQ(MassaLlarga(c), "");
  c.jocs = 2;
  EXPECT_NE(MassaLlarga(c).find("in each of 2 games"), std::string::npos);
}

t_config Sondes(const std::string& dir) {
  t_config c;
  c.llavor = 9;
  c.durada = 1;
  c.jocs = 2;
  c.espera_ms = 5000;
  c.robots = {std::string(SONDA_BIN) + " " + dir + "/log", "diana"};
  return c;
}

TEST(Transcripcio, TheFileHoldsWhatMemoryWouldWithASectionPerGame) {
  const t_dir dir;
  t_config c = Sondes(dir);
  const std::vector<t_resultat> memoria = JugaSerie(c);
  std::string esperat;
  for (const auto& r : memoria) {
    esperat += "# game " + std::to_string(r.joc) + "\n";
    for (const auto& l : r.transcripcio) esperat += l + "\n";
    EXPECT_EQ(r.linies_transcripcio, r.transcripcio.size());
  }
  c.transcripcio = dir.cami + "/m.txt";
  const std::vector<t_resultat> fitxer = JugaSerie(c);
  ASSERT_EQ(fitxer.size(), 2u);
  EXPECT_EQ(Llegeix(c.transcripcio), esperat);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_TRUE(fitxer[k].transcripcio.empty());
    EXPECT_EQ(fitxer[k].linies_transcripcio, memoria[k].transcripcio.size());
    EXPECT_EQ(fitxer[k].error_transcripcio, "");
  }
  // A file that cannot take it is said, with why.
  c.transcripcio = "/dev/full";
  EXPECT_EQ(JugaSerie(c).front().error_transcripcio, std::strerror(ENOSPC));
  c.transcripcio = dir.cami + "/no/such/m.txt";
  EXPECT_EQ(JugaSerie(c).front().error_transcripcio, std::strerror(ENOENT));
  EXPECT_EQ(Fills(), 0u);
}

// Each line's time is printf's "%.2f", cut at 31 characters as it always was; a tick's lines
// share one, and a time met again (a series' next game) is written afresh.
TEST(Transcripcio, EveryLineHasItsOwnTime) {
  t_transcripcio t;
  ObreTranscripcio(t, "", false);
  t_resultat r;
  const double temps[] = {0, 0, 0.05, 0.05, 0.125, 0.135, 2.675, 0.05, 299.95, 1e30, 1e30, 0};
  std::vector<std::string> esperat;
  for (double x : temps) {
    EscriuLinia(t, r, x, "A#1", '>', "Info 1 2 3");
    EscriuLinia(t, r, x, "b\\#2", '<', "");
    char hora[32];
    std::snprintf(hora, sizeof hora, "%.2f", x);
    esperat.push_back(std::string(hora) + " A#1 > Info 1 2 3");
    esperat.push_back(std::string(hora) + " b\\#2 < ");
  }
  EXPECT_EQ(r.transcripcio, esperat);
  EXPECT_EQ(r.linies_transcripcio, esperat.size());
  EXPECT_EQ(r.transcripcio[8].substr(0, 5), "0.12 ");
  EXPECT_EQ(r.transcripcio[18].size(), 31 + std::string(" A#1 > Info 1 2 3").size());
}

TEST(Transcripcio, PastItsBudgetsARobotIsCutOnceAndSaidSo) {
  const t_dir dir;
  t_config c = Sondes(dir);
  c.robots[1] = std::string(XERRAIRE_BIN) + " 3000";  // three Print lines of 1000 bytes a tick
  c.max_transcripcio_robot = 16 << 10;
  c.max_text_repeticio = 8 << 10;
  c.max_dibuixos = 0;
  c.max_linies_repeticio = 12 << 10;
  const std::vector<t_resultat> jocs = JugaSerie(c);
  ASSERT_EQ(jocs.size(), 2u);
  size_t talls = 0, prints = 0;
  for (const auto& r : jocs) {
    for (const auto& l : r.transcripcio) {
      talls += l.find("xerraire#2 ! output beyond 16 KiB not recorded") != std::string::npos;
      prints += l.find("xerraire#2 < Print") != std::string::npos;
      EXPECT_EQ(l.find("Sonda#1 !"), std::string::npos) << l;  // the other robot is not cut
    }
  }
  EXPECT_EQ(talls, 1u);  // the transcript's budget is the match's
  EXPECT_EQ(prints, 16u);
  for (const auto& r : jocs) {  // the replay's, each game's
    std::vector<std::string> xerraire, sonda;
    for (const auto& n : r.notes) (n.robot == 1 ? xerraire : sonda).push_back(n.linia);
    ASSERT_EQ(xerraire.size(), 9u) << r.joc;
    // The game's record starts at time 0, and each note is timed by the tick it was written in.
    EXPECT_EQ(r.quadres.front().temps, 0);
    EXPECT_EQ(r.objectes.front().first, 0);
    EXPECT_EQ(r.notes.front().temps, 0);
    EXPECT_DOUBLE_EQ(r.notes.back().temps, 2 * c.dt) << "the ninth line is the third tick's";
    EXPECT_EQ(xerraire.back(), "! Print and Debug beyond 8 KiB not kept for the replay");
    EXPECT_EQ(std::count(sonda.begin(), sonda.end(), "! drawings beyond 0 not kept for the replay"),
              1);
    EXPECT_EQ(std::count_if(sonda.begin(), sonda.end(),
                            [](const std::string& l) { return l.rfind("DebugCircle", 0) == 0; }),
              0);
    size_t bytes = 0, tall = 0;
    for (const auto& l : r.linies) {
      if (l.robot != 1) continue;
      bytes += l.text.size();
      tall += l.text == "exchange beyond 12 KiB not kept for the replay";
    }
    EXPECT_EQ(tall, 1u) << r.joc;
    EXPECT_LT(bytes, size_t{14} << 10) << r.joc;
  }
  EXPECT_EQ(Fills(), 0u);
}

// Lines a robot writes that start as the arena's own messages do (Info, Radar...) are still the
// robot's: they count against its transcript's budget and are kept in the replay's exchange.
TEST(Transcripcio, ARobotsLinesCountWhateverWordTheyStartWith) {
  const t_dir dir;
  t_config c = Sondes(dir);
  c.robots[1] = std::string(XERRAIRE_BIN) + " 3000 Radar";
  c.max_transcripcio_robot = 16 << 10;
  const std::vector<t_resultat> jocs = JugaSerie(c);
  ASSERT_FALSE(jocs.empty());
  size_t talls = 0, radars = 0;
  for (const auto& r : jocs) {
    for (const auto& l : r.transcripcio) {
      talls += l.find("xerraire#2 ! output beyond 16 KiB not recorded") != std::string::npos;
      radars += l.find("xerraire#2 < Radar xxx") != std::string::npos;
    }
  }
  EXPECT_EQ(talls, 1u);
  EXPECT_EQ(radars, 8u);  // with their 8 warnings, the 17th line is past 16 KiB
  const auto& linies = jocs.front().linies;
  EXPECT_TRUE(std::any_of(linies.begin(), linies.end(), [](const t_linia& l) {
    return l.robot == 1 && l.sentit == '<' && l.text.rfind("Radar xxx", 0) == 0;
  }));
  EXPECT_EQ(Fills(), 0u);
}

}  // namespace
