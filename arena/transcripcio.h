// The transcript as the match goes: one line per message and command, "TIME ROBOT > message",
// written to its file at once, or kept in the game's record when there is no file.
#pragma once

#include <cstdio>
#include <string>

#include "arena/gravacio.h"

namespace arena {

struct t_transcripcio {
  bool en_fitxer = false;  // false: the lines go into each game's record
  std::FILE* fitxer = nullptr;
  bool serie = false;  // a section heading before each game
  std::string error;   // why the file could not be written, the first time it failed
  // The line being written, its buffer reused from one line to the next; and the last game time
  // written, formatted once for all the lines of its tick.
  std::string linia;
  double temps = -1;
  std::string hora;
};

// Opens `cami` (empty: no file) for a match of one game or of a series.
void ObreTranscripcio(t_transcripcio& t, const std::string& cami, bool serie);
// A series' section heading, "# game K", in the file.
void Capcalera(t_transcripcio& t, int joc);
// One line, at game time `temps`, of robot `nom`: '>' sent to it, '<' from it, '!' about it.
void EscriuLinia(t_transcripcio& t, t_resultat& joc, double temps, const std::string& nom,
                 char sentit, const std::string& linia);
// Flushes and closes the file, noting why if that failed; safe to call twice.
void TancaTranscripcio(t_transcripcio& t);

}  // namespace arena
