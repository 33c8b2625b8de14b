// What a game gives each robot: the leader's point, shared among tied leaders, and nothing for
// the dead and the dropped.
#include <gtest/gtest.h>

#include <vector>

#include "arena/resum.h"

using namespace arena;

namespace {

TEST(Resum, AGameGoesToTheLeaderTiedLeadersShareNobodyElseScores) {
  const t_estat_robot viu = t_estat_robot::VIU, mort = t_estat_robot::MORT;
  auto F = [](t_estat_robot estat, double energia) {
    t_fitxa f;
    f.desenllac.estat = estat;
    if (estat == t_estat_robot::CAIGUT) f.desenllac.motiu = Motiu(t_causa::BRUTICIA);
    f.energia = energia;
    return f;
  };
  EXPECT_EQ(Punts({F(viu, 50), F(viu, 40)}), (std::vector<double>{1, 0}));
  EXPECT_EQ(Punts({F(viu, 50), F(viu, 50), F(viu, 10)}), (std::vector<double>{0.5, 0.5, 0}));
  EXPECT_EQ(Punts({F(mort, 0), F(t_estat_robot::CAIGUT, 90), F(viu, 1)}),
            (std::vector<double>{0, 0, 1}));
  EXPECT_EQ(Punts({F(mort, 0), F(mort, -3)}), (std::vector<double>{0, 0}));
}

}  // namespace
