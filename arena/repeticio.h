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

// Where a live view has got to in a game's recording: the frames, object changes, events,
// notes and lines of the exchange it was already sent.
struct t_tall {
  size_t quadres = 0, objectes = 0, fets = 0, notes = 0, linies = 0;
};

// The part of game `joc`'s data (one `games[]` object of the page's data) a live view has not
// had: the frames from `des` up to `fins`, what else was recorded since `des` (which moves on
// past it), and the robots as `fitxes` has them; the page adds each part to the one before.
std::string TrosRepeticio(const t_config& config, const t_resultat& joc,
                          const std::vector<t_fitxa>& fitxes, size_t fins, t_tall& des);

// The replay page with no recording yet, which reads its games as they grow from the event
// stream at `fonts` (a path of the server that serves it).
std::string PaginaDirecte(const std::string& titol, const std::string& fonts);

// Trajectories, shots, hits, deaths, cookies and mines of the whole match.
std::string ImatgeSvg(const t_config& config, const t_resultat& resultat);

}  // namespace arena
