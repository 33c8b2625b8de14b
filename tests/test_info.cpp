// The order queue: ascending game time, first come first served among equal times.
#include <cmath>

#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

std::vector<double> Temps() {
  std::vector<double> t;
  for (const auto& o : ordres) t.push_back(o.time);
  return t;
}

void Posa(double temps, int kind, double valor = 0) {
  const t_ordre o{temps, kind, valor};
  insertar_ordre(&o);
}

TEST_F(Robot, QueueKeepsTimeOrderAndArrivalOrderForEqualTimes) {
  Posa(5, 0);
  Posa(3, 0);
  Posa(4, 0);
  EXPECT_EQ(Temps(), (std::vector<double>{3, 4, 5}));
  Posa(1, 0);
  Posa(9, 0);
  EXPECT_EQ(Temps(), (std::vector<double>{1, 3, 4, 5, 9}));

  ordres.clear();
  t_ordre o{2, ORDER_ACCELERATE, 1};  // one record reused, as the planners do
  insertar_ordre(&o);
  o.kind = ORDER_STOP;
  insertar_ordre(&o);
  o.kind = ORDER_RELEASE_BRAKE;
  o.value = 7;
  insertar_ordre(&o);
  Posa(NAN, ORDER_SCAN);
  Posa(0, ORDER_SCAN);
  std::vector<int> kinds;
  for (const auto& q : ordres) kinds.push_back(q.kind);
  EXPECT_EQ(kinds, (std::vector<int>{ORDER_SCAN, ORDER_ACCELERATE, ORDER_STOP,
                                     ORDER_RELEASE_BRAKE, ORDER_SCAN}));
  EXPECT_EQ(std::next(ordres.begin())->value, 1);
  EXPECT_TRUE(std::isnan(ordres.back().time));
}

}  // namespace
