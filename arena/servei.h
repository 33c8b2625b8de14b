// The arena's live view: an HTTP server on threads of its own that shows the match being played,
// or a tournament's progress and the game it is playing, while the arena runs and after.
#pragma once

#include <optional>
#include <string>

#include "arena/estadistica.h"
#include "arena/ordres.h"
#include "arena/partida.h"
#include "arena/torneig.h"

namespace arena {

struct t_servei;

// Listens on `a` and serves from threads of its own, which never take a signal meant for the
// arena. `torneig`: the page at / is a tournament's, the match being played is at /live. Null,
// with `error`, when it cannot listen (a port in use, a host not of this machine).
t_servei* ObreServei(const t_adreca& a, bool torneig, std::string& error);
// Where it listens: "http://HOST:PORT/".
std::string AdrecaServei(const t_servei& s);

// What t_config::observador is to be for the match (or, in a tournament, each match) to be seen
// live. In a tournament the view shows one match at a time: the first one told of that is not
// yet over; the next one when it ends.
t_observador ObservadorPartida(t_servei& s);
// Makes the tournament `t` tell the server of its games, its progress and its test.
void ObservaTorneig(t_servei& s, t_torneig& t);

// The arena has played all it will: the pages say so.
void AcabaServei(t_servei& s);
// Returns once SIGINT, SIGTERM or SIGHUP came (at once if one already had).
void EsperaSenyal();
// Stops serving, drops every client and frees `s`.
void TancaServei(t_servei* s);

}  // namespace arena
