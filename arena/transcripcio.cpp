// The transcript as the match goes: one line per message and command, "TIME ROBOT > message",
// written to its file at once, or kept in the game's record when there is no file.
#include "arena/transcripcio.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace arena {

namespace {

void Escriu(t_transcripcio& t, const std::string& l) {
  if (t.fitxer && std::fwrite(l.data(), 1, l.size(), t.fitxer) != l.size() && t.error.empty()) {
    t.error = std::strerror(errno);
  }
}

// A game time as the transcript writes it, "%.2f" in the C locale, without printf's cost.
std::string Hora(double temps) {
  char b[32];
  // What does not fit in 31 characters is cut, as snprintf into this buffer always cut it.
  const std::to_chars_result r =
      std::to_chars(b, b + sizeof b - 1, temps, std::chars_format::fixed, 2);
  if (r.ec == std::errc()) return std::string(b, r.ptr);
  std::snprintf(b, sizeof b, "%.2f", temps);
  return b;
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
  if (temps != t.temps || t.hora.empty()) {
    t.temps = temps;
    t.hora = Hora(temps);
  }
  std::string& l = t.linia;
  const char marca[] = {' ', sentit, ' '};
  l.assign(t.hora).append(1, ' ').append(nom).append(marca, sizeof marca).append(linia);
  ++joc.linies_transcripcio;
  if (!t.en_fitxer) {
    joc.transcripcio.push_back(l);
    return;
  }
  l += '\n';
  Escriu(t, l);
}

void TancaTranscripcio(t_transcripcio& t) {
  if (!t.fitxer) return;
  const bool escrit = std::fflush(t.fitxer) == 0 && !std::ferror(t.fitxer);
  if (!escrit && t.error.empty()) t.error = std::strerror(errno);
  if (std::fclose(t.fitxer) != 0 && t.error.empty()) t.error = std::strerror(errno);
  t.fitxer = nullptr;
}

}  // namespace arena
