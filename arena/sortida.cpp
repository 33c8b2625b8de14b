// The arena's own files written whole: every write checked, a failure said with the file's name
// and the reason.
#include "arena/sortida.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace arena {

bool EscriuTot(int fd, const std::string& text) {
  for (size_t fet = 0; fet < text.size();) {
    const ssize_t n = write(fd, text.data() + fet, text.size() - fet);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    fet += static_cast<size_t>(n);
  }
  return true;
}

std::string Desa(const std::string& cami, const std::string& text) {
  const int fd = open(cami.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return cami + ": " + std::strerror(errno);
  const bool be = EscriuTot(fd, text);
  const int e = errno;
  if (close(fd) != 0 && be) return cami + ": " + std::strerror(errno);
  return be ? "" : cami + ": " + std::strerror(e);
}

std::string SenseExtensio(const std::string& cami) {
  const size_t punt = cami.rfind('.');
  const bool extensio = punt != std::string::npos && punt > cami.rfind('/') + 1;
  return extensio ? cami.substr(0, punt) : cami;
}

}  // namespace arena
