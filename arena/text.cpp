// Robot text made safe: what a robot writes is data, never control of the terminal, the
// transcript's reader or a JSON encoder that insists on UTF-8.
#include "arena/text.h"

#include <algorithm>

namespace arena {

namespace {

void Escapa(std::string& o, unsigned char c) {
  const char* const xifres = "0123456789ABCDEF";
  o += "\\x";
  o += xifres[c >> 4];
  o += xifres[c & 15];
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0 if there is none: no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
size_t Sequencia(std::string_view s) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const auto Cont = [&](size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char min = 0x80, max = 0xBF;  // the bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) min = 0xA0;
    if (c == 0xED) max = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) min = 0x90;
    if (c == 0xF4) max = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < min || b(1) > max) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (!Cont(k)) return 0;
  }
  return n;
}

}  // namespace

bool Imprimible(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
}

std::string TextNet(std::string_view bytes) {
  if (Imprimible(bytes)) return std::string(bytes);
  std::string o;
  o.reserve(bytes.size() + 16);
  for (size_t k = 0; k < bytes.size();) {
    const std::string_view resta = bytes.substr(k);
    const size_t n = Sequencia(resta);
    const auto c = static_cast<unsigned char>(resta[0]);
    // C1 controls are U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F.
    const bool control = n == 0 || c < 0x20 || c == 0x7F ||
                         (n == 2 && c == 0xC2 && static_cast<unsigned char>(resta[1]) < 0xA0);
    if (!control) {
      o.append(resta.substr(0, n));
    } else {
      for (size_t j = 0; j < std::max<size_t>(n, 1); ++j) {
        Escapa(o, static_cast<unsigned char>(resta[j]));
      }
    }
    k += std::max<size_t>(n, 1);
  }
  return o;
}

}  // namespace arena
