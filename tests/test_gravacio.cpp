// A game's recording without a match: frames and objects as the field changes, the budgets on
// what one robot may leave in the replay, and the replay's data against its written schema.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "arena/gravacio.h"
#include "arena/repeticio.h"

using namespace arena;

namespace {

const t_pressupost kPressupost{1024, 1, 1024};

std::vector<std::string> Textos(const std::vector<t_nota>& notes) {
  std::vector<std::string> o;
  o.reserve(notes.size());
  for (const auto& n : notes) o.push_back(n.linia);
  return o;
}

TEST(Gravacio, TheExchangeIsKeptWithinItsBudgetAndItsCutSaidOnce) {
  t_resultat r;
  t_despesa d;
  const std::string llarga = "Print " + std::string(394, 'x');  // 400 bytes
  GravaLinia(r, kPressupost, d, {0, 1, '>', "Coordinates 1 2 0"});
  GravaLinia(r, kPressupost, d, {1, 1, '<', llarga});
  GravaLinia(r, kPressupost, d, {2, 1, '<', llarga});
  GravaLinia(r, kPressupost, d, {3, 1, '<', llarga});  // past 1 KiB
  GravaLinia(r, kPressupost, d, {4, 1, '<', "Print y"});
  GravaLinia(r, kPressupost, d, {5, 1, '!', "dropped: writes garbage"});
  ASSERT_EQ(r.linies.size(), 5u);
  EXPECT_EQ(r.linies[2].tick, 2);
  const t_linia& tall = r.linies[3];
  EXPECT_EQ(tall.tick, 3);
  EXPECT_EQ(tall.robot, 1);
  EXPECT_EQ(tall.sentit, '!');
  EXPECT_EQ(tall.text, "exchange beyond 1 KiB not kept for the replay");
  EXPECT_EQ(r.linies[4].text, "dropped: writes garbage") << "what the arena did is always kept";
  // A budget is said in whole MiB when it is some, else in KiB.
  EXPECT_EQ(Mida(size_t{1} << 20), "1 MiB");
  EXPECT_EQ(Mida(size_t{3} << 20), "3 MiB");
  EXPECT_EQ(Mida(size_t{1536} << 10), "1536 KiB");
}

TEST(Gravacio, TextAndDrawingsHaveBudgetsOfTheirOwnForEachGame) {
  t_resultat r;
  t_despesa d;
  const std::string llarga = "Print " + std::string(594, 'x');  // 600 bytes
  GravaNota(r, kPressupost, d, {0, 0, llarga}, false);
  GravaNota(r, kPressupost, d, {0.05, 0, "DebugCircle 1 2 3"}, true);
  GravaNota(r, kPressupost, d, {0.1, 0, "DebugLine 1 2 3 4"}, true);
  GravaNota(r, kPressupost, d, {0.15, 0, "DebugCircle 1 2 3"}, true);
  GravaNota(r, kPressupost, d, {0.2, 0, "Debug caf\xE9"}, false);
  GravaNota(r, kPressupost, d, {0.25, 0, llarga}, false);  // past 1 KiB
  GravaNota(r, kPressupost, d, {0.3, 0, "Print y"}, false);
  EXPECT_EQ(Textos(r.notes),
            (std::vector<std::string>{
                llarga, "DebugCircle 1 2 3", "! drawings beyond 1 not kept for the replay",
                "Debug caf\\xE9", "! Print and Debug beyond 1 KiB not kept for the replay"}));
  EXPECT_EQ(r.notes[4].temps, 0.25);
  // The next game starts afresh.
  t_resultat seguent;
  d = {};
  GravaNota(seguent, kPressupost, d, {0, 0, llarga}, false);
  GravaNota(seguent, kPressupost, d, {0, 0, "DebugLine 1 2 3 4"}, true);
  EXPECT_EQ(seguent.notes.size(), 2u);
}

TEST(Gravacio, FramesHoldTheFieldAndObjectsAreKeptWhenTheyChange) {
  t_mon mon;
  mon.robots.resize(2);
  mon.robots[0].x = 5;
  mon.trets.push_back({1, 2, 10, 0, 1, 0});
  mon.objectes = {{10, 10, OBJ_GALETA}, {20, 20, OBJ_MINA}};
  t_resultat r;
  GravaQuadre(r, 0, mon);
  mon.robots[0].x = 6;
  GravaQuadre(r, 0.05, mon);
  GravaRadar(r, 1, {3, OBJ_ROBOT, 0, 1.5});
  mon.objectes.pop_back();
  GravaQuadre(r, 0.1, mon);
  ASSERT_EQ(r.quadres.size(), 3u);
  EXPECT_EQ(r.quadres[0].robots[0].x, 5);
  EXPECT_EQ(r.quadres[1].robots[0].x, 6);
  EXPECT_EQ(r.quadres[1].trets.size(), 1u);
  EXPECT_EQ(r.quadres[1].radar[1].tipus, OBJ_ROBOT);
  for (const auto& vist : {r.quadres[1].radar[0], r.quadres[0].radar[1], r.quadres[2].radar[1]}) {
    EXPECT_EQ(vist.tipus, -1) << "nothing seen until the radar is recorded";
  }
  ASSERT_EQ(r.objectes.size(), 2u);
  EXPECT_EQ(r.objectes[0].first, 0);
  EXPECT_EQ(r.objectes[0].second.size(), 2u);
  EXPECT_EQ(r.objectes[1].first, 0.1);
  EXPECT_EQ(r.objectes[1].second.size(), 1u);
}

using json = nlohmann::json;

// A game of two robots with something of everything the data can hold: the second robot dies
// at frame 1 after writing to its standard error, the first draws and prints.
t_resultat Joc() {
  t_mon mon;
  mon.robots.resize(2);
  mon.robots[0].x = 5;
  mon.trets.push_back({1, 2, 10, 0, 1, 0});
  mon.objectes = {{10, 10, OBJ_GALETA}, {20, 20, OBJ_MINA}};
  t_resultat r;
  r.llavor = 9;
  r.joc = 2;
  GravaQuadre(r, 0, mon);
  GravaRadar(r, 0, {3, OBJ_ROBOT, 1, 1.5});
  mon.robots[0].x = 6.5;
  mon.robots[1].viu = false;
  mon.objectes.pop_back();
  GravaQuadre(r, 0.05, mon);
  t_despesa d;
  GravaNota(r, kPressupost, d, {0, 0, "Print hola"}, false);
  GravaNota(r, kPressupost, d, {0, 0, "DebugCircle 1 2 3"}, true);
  GravaLinia(r, kPressupost, d, {0, 0, '<', "Print hola"});
  r.fets.push_back({0.05, -1, 1, 4, 5});
  r.fitxes = {
      {"A#1", 1, 0, 0, 0, 99, {t_estat_robot::VIU, {}}, "", "#2b7bd6", 0, 0, {}},
      {"B#2", 0, 0, 0, 0, 0, {t_estat_robot::MORT, {}}, "B#2.err", "#d64b2b", 0, 0, {"oops"}}};
  r.fitxes[0].punts = 1;
  r.guanyador = "A#1";
  r.ticks = 1;
  return r;
}

// The page's data as it goes out: the JSON in its script element.
json Dades(const std::string& pagina) {
  const std::string obre = "<script id=\"dades\" type=\"application/json\">";
  const size_t a = pagina.find(obre) + obre.size();
  return json::parse(pagina.substr(a, pagina.find("</script>", a) - a));
}

// Every key of `j` as a path: "games[].robots[].name". Arrays of plain values (a frame's shots,
// an event) are positional: their places are described, not keyed.
void Claus(const json& j, const std::string& cami, std::set<std::string>& claus) {
  if (j.is_object()) {
    for (const auto& [clau, valor] : j.items()) {
      const std::string c = cami.empty() ? clau : cami + "." + clau;
      claus.insert(c);
      Claus(valor, c, claus);
    }
  } else if (j.is_array()) {
    for (const auto& x : j) Claus(x, cami + "[]", claus);
  }
}

// The keys the schema lists: each "| `key` |" row, under the last "### `PATH`" heading.
std::set<std::string> Documentades() {
  std::ifstream f(DADES_MD);
  std::set<std::string> claus;
  std::string cami;
  for (std::string l; std::getline(f, l);) {
    if (l.rfind("### ", 0) == 0) {
      const size_t a = l.find('`');
      cami = a == std::string::npos ? "" : l.substr(a + 1, l.find('`', a + 1) - a - 1);
    } else if (l.rfind("| `", 0) == 0) {
      const std::string clau = l.substr(3, l.find('`', 3) - 3);
      claus.insert(cami.empty() ? clau : cami + "." + clau);
    }
  }
  return claus;
}

TEST(Repeticio, EveryKeyOfThePagesDataIsTheSchemas) {
  t_config c;
  c.llavor = 9;
  const json d = Dades(PaginaRepeticio(c, Joc()));
  std::set<std::string> claus;
  Claus(d, "", claus);
  const std::set<std::string> documentades = Documentades();
  ASSERT_GT(documentades.size(), 30u) << DADES_MD << " not read";
  for (const auto& clau : claus)
    EXPECT_TRUE(documentades.count(clau)) << clau << " not in the schema";
  for (const auto& clau : documentades)
    EXPECT_TRUE(claus.count(clau)) << clau << " not in the data";
  EXPECT_EQ(d.at("version"), VERSIO_REPETICIO);
}

TEST(Repeticio, ThePagesDataSaysWhatTheRecordsSay) {
  t_config c;
  c.llavor = 9;
  t_resultat r = Joc();
  r.fitxes[0].desenllac = {t_estat_robot::CAIGUT, Motiu(t_causa::SENSE_RESPOSTA)};
  r.fitxes[0].desenllac.motiu.ocupat = Ocupacio(t_feina::ENTRADA);
  r.fitxes[0].punts = 0;
  r.guanyador.clear();
  const json joc = Dades(PaginaRepeticio(c, r)).at("games").at(0);
  EXPECT_EQ(joc.at("seed"), 9);
  EXPECT_EQ(joc.at("game"), 2);
  EXPECT_EQ(joc.at("field"), json({40, 30}));
  EXPECT_EQ(joc.at("tick"), 0.05);
  EXPECT_EQ(joc.at("frames"), 2);
  EXPECT_TRUE(joc.at("winner").is_null());
  const json& a = joc.at("robots").at(0);
  EXPECT_EQ(a.at("status"), "dropped");
  EXPECT_EQ(a.at("reason"), "no answer in time (it has not read all its input)");
  EXPECT_TRUE(a.at("death").is_null());
  EXPECT_FALSE(a.contains("stderr_tail"));
  const json& b = joc.at("robots").at(1);
  EXPECT_EQ(b.at("status"), "dead");
  EXPECT_EQ(b.at("reason"), "");
  EXPECT_EQ(b.at("death"), 0.05);
  EXPECT_EQ(b.at("stderr_tail"), json({"oops"}));
  EXPECT_EQ(joc.at("tracks").at(0).at("x"), json({500, 150}));
  EXPECT_EQ(joc.at("tracks").at(1).at("alive_changes"), json({1}));
  EXPECT_EQ(joc.at("radar").at(0).at("type"), "0-");
  EXPECT_EQ(joc.at("shots_in_flight").at(0), json({0, 10, 20}));
}

// The notes and the exchange are written into the page as the JSON library writes them, '<'
// made "\u003c", whatever their text: quotes, backslashes, markup, text that is not ASCII,
// even bytes that are not UTF-8 (which the match makes plain text before, but the page does
// not count on it).
TEST(Repeticio, TheExchangeAndNotesAreWrittenAsJson) {
  t_config c;
  t_resultat r = Joc();
  const std::string textos[] = {"Print \"quoted\" \\x1B back\\slash",
                                "</script><!--",
                                "caf\xC3\xA9 \xE2\x82\xAC",
                                "a\xF2z",
                                "tab\there",
                                "",
                                "plain"};
  t_despesa d;
  int tick = 1;
  for (const std::string& text : textos) {
    for (char sentit : {'<', '>', '!'}) GravaLinia(r, kPressupost, d, {tick, 1, sentit, text});
    r.notes.push_back({tick * c.dt, 0, text});
    ++tick;
  }
  json intercanvi = json::array(), notes = json::array();
  for (const t_linia& l : r.linies) {
    intercanvi.push_back({l.tick, l.robot, std::string(1, l.sentit), l.text});
  }
  for (const t_nota& n : r.notes) notes.push_back({std::lround(n.temps / c.dt), n.robot, n.linia});
  const auto ComAlaPagina = [](const json& j) {
    std::string o;
    for (char ch : j.dump(-1, ' ', false, json::error_handler_t::replace)) {
      o += ch == '<' ? std::string("\\u003c") : std::string(1, ch);
    }
    return o;
  };
  const std::string pagina = PaginaRepeticio(c, r);
  EXPECT_NE(pagina.find("\"exchange\":" + ComAlaPagina(intercanvi) + ","), std::string::npos);
  EXPECT_NE(pagina.find("\"notes\":" + ComAlaPagina(notes) + ","), std::string::npos);
  const json joc = Dades(pagina).at("games").at(0);
  EXPECT_EQ(joc.at("exchange").size(), r.linies.size());
  EXPECT_EQ(joc.at("exchange").back(), json({tick - 1, 1, "!", "plain"}));
  EXPECT_EQ(joc.at("notes").at(2), json({1, 0, textos[0]}));
  // One game's page is the page of a series of that game alone.
  EXPECT_EQ(pagina, PaginaRepeticio(c, std::vector<t_resultat>{r}));
}

}  // namespace
