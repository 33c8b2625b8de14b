// What a match leaves for people to look at: a self-contained replay page that animates the
// recorded frames, and a still SVG picture of the whole match.
#pragma once

#include <string>
#include <vector>

#include "arena/partida.h"

namespace arena {

// The version of the replay data the page holds, its keys and what they mean being those of
// arena/repeticio/dades.md: a change to them is a new version, written down there.
constexpr int VERSIO_REPETICIO = 1;

// One HTML file, no network: the recording embedded, drawn and animated by an inline script.
// A series is one page, with a picker for its games.
std::string PaginaRepeticio(const t_config& config, const std::vector<t_resultat>& jocs);
std::string PaginaRepeticio(const t_config& config, const t_resultat& resultat);

// Trajectories, shots, hits, deaths, cookies and mines of the whole match.
std::string ImatgeSvg(const t_config& config, const t_resultat& resultat);

}  // namespace arena
