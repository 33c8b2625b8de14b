// The transcript as the match goes: one line per message and command, "TIME ROBOT > message",
// written to its file at once, or kept in the game's record when there is no file.
#include "arena/transcripcio.h"

#include <cerrno>
#include <cstring>

namespace arena {

namespace {

void Escriu(t_transcripcio& t, const std::string& l) {
  if (t.fitxer && std::fwrite(l.data(), 1, l.size(), t.fitxer) != l.size() && t.error.empty()) {
    t.error = std::strerror(errno);
  }
}

}  // namespace

void ObreTranscripcio(t_transcripcio& t, const std::string& cami, bool serie) {
  t.serie = serie;
  t.en_fitxer = !cami.empty();
  if (!t.en_fitxer) return;
  t.fitxer = std::fopen(cami.c_str(), "we");
  if (!t.fitxer) t.error = std::strerror(errno);
}

void Capcalera(t_transcripcio& t, int joc) {
  if (t.serie) Escriu(t, "# game " + std::to_string(joc) + "\n");
}

void EscriuLinia(t_transcripcio& t, t_resultat& joc, double temps, const std::string& nom,
                 char sentit, const std::string& linia) {
  char hora[32];
  std::snprintf(hora, sizeof hora, "%.2f", temps);
  std::string l = std::string(hora) + " " + nom + " " + sentit + " " + linia;
  ++joc.linies_transcripcio;
  if (!t.en_fitxer) {
    joc.transcripcio.push_back(std::move(l));
    return;
  }
  Escriu(t, l + '\n');
}

void TancaTranscripcio(t_transcripcio& t) {
  if (!t.fitxer) return;
  const bool escrit = std::fflush(t.fitxer) == 0 && !std::ferror(t.fitxer);
  if (!escrit && t.error.empty()) t.error = std::strerror(errno);
  if (std::fclose(t.fitxer) != 0 && t.error.empty()) t.error = std::strerror(errno);
  t.fitxer = nullptr;
}

}  // namespace arena
