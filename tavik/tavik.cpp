// The robot's global state and its order queue: one record, one option table, one list of
// timed orders, all touched only from the message handlers.
#include "tavik/tavik.h"

std::list<t_ordre> ordres;
t_robot robot;
double options[NUM_OPTIONS];

void insertar_ordre(const t_ordre* ordre) {
  // Strictly later, so an order goes behind every order already queued for the same time; a NaN
  // time compares false with everything and lands at the back.
  auto it = ordres.begin();
  while (it != ordres.end() && !(it->time > ordre->time)) ++it;
  ordres.insert(it, *ordre);
}
