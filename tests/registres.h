// Results records made by hand for the tests of the table and of the records' reader: whole, as
// the tournament writes them, so that each test changes only what it is about.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "arena/registre.h"

using namespace arena;

// A whole record as the runner writes it, for the reader's checks.
inline json Complet(uint64_t seed, bool invertit, double a, const std::string& programa_b = "./b",
                    bool parells = true) {
  json robots = json::array();
  const std::pair<std::string, double> robot[] = {{"./a", a}, {programa_b, a == 0.5 ? 0.5 : 1 - a}};
  for (size_t k = 0; k < 2; ++k) {
    robots.push_back({{"name", k == 0 ? "A#1" : "B#2"},
                      {"program", robot[k].first},
                      {"x", 1.0},
                      {"y", 2.0},
                      {"heading", 0.0},
                      {"energy", 50.0},
                      {"shots", 3},
                      {"hits", 1},
                      {"cookies", 0},
                      {"mines", 0},
                      {"cpu", 0.1},
                      {"status", "alive"},
                      {"reason", ""},
                      {"stderr", nullptr},
                      {"points", robot[k].second}});
  }
  if (invertit) std::swap(robots[0], robots[1]);
  return {{"version", VERSIO_REGISTRE},
          {"seed", seed},
          {"game", 1},
          {"swapped", invertit},
          {"robots", robots},
          {"winner", nullptr},
          {"ticks", 10},
          {"time", 0.5},
          {"duration", 0.5},
          {"tournament",
           {{"programs", {"./a", programa_b}},
            {"tick", 0.05},
            {"games", 1},
            {"first_game", 1},
            {"paired", parells},
            {"duration", 0.5}}},
          {"replay", "arena"},
          {"files", json::array()}};
}
