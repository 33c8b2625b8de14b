// Reading the arena's message lines: the SIGUSR1 handler drains the non-blocking standard
// input, and the bytes are cut into whole lines before anything is dispatched.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "actua/actua.h"
#include "tavik/tavik.h"

namespace {

// The start of a line whose newline has not arrived yet. The arena may stop writing mid-line
// and signal later, so a pause in the input is never taken for the end of a line.
std::string pendent;
// Set while the rest of an overlong line is being skipped up to its newline.
bool descartant = false;

void Desborda() {
  DoPrint("Missatge desconegut!");
  pendent.clear();
  pendent.shrink_to_fit();
}

}  // namespace

void RepEntrada(const char* dades, size_t mida) {
  const char* p = dades;
  const char* const fi = dades + mida;
  while (p < fi) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', fi - p));
    const size_t tros = (nl ? nl : fi) - p;
    if (descartant) {
      descartant = nl == nullptr;
    } else if (pendent.size() + tros > MAX_LINIA) {
      Desborda();
      descartant = nl == nullptr;  // the rest of it, up to its newline, is skipped
    } else if (nl == nullptr) {
      pendent.append(p, tros);
    } else if (pendent.empty()) {
      DespatxaLinia(std::string(p, tros));
    } else {
      pendent.append(p, tros);
      std::string linia;
      linia.swap(pendent);
      DespatxaLinia(std::move(linia));
    }
    p = nl ? nl + 1 : fi;
  }
}

void TancaEntrada() {
  if (descartant) {
    descartant = false;
  } else if (!pendent.empty()) {
    std::string linia;
    linia.swap(pendent);
    DespatxaLinia(std::move(linia));
  }
}

void ReiniciaEntrada() {
  pendent.clear();
  descartant = false;
}

void BucleMissatges(int) {
  const int errno_desat = errno;  // main may be looking at errno from its sleep
  static char buf[1 << 16];       // deliveries never nest, so one buffer serves them all
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) {
      RepEntrada(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      TancaEntrada();
      break;
    } else if (errno != EINTR) {
      break;  // EAGAIN: nothing more for now; the next SIGUSR1 reads on
    }
  }
  errno = errno_desat;
}
