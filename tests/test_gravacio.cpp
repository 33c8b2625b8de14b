// A game's recording without a match: frames and objects as the field changes, and the budgets
// on what one robot may leave in the replay.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arena/gravacio.h"

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
  GravaLinia(r, kPressupost, d, {0, 1, '>', "Info 0 0 0"});
  GravaLinia(r, kPressupost, d, {0, 1, '>', "Radar 3 2 0"});
  GravaLinia(r, kPressupost, d, {0, 1, '>', "Coordinates 1 2 0"});
  ASSERT_EQ(r.linies.size(), 1u) << "Info and Radar are the frames' to tell";
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

}  // namespace
