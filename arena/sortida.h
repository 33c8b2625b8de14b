// The arena's own files written whole: every write checked, a failure said with the file's name
// and the reason, so that nothing reports success that did not happen.
#pragma once

#include <string>

namespace arena {

// Writes all of `text` to `fd`; false with errno set otherwise (ENOSPC for a write of nothing).
bool EscriuTot(int fd, const std::string& text);

// Writes `text` to the file `cami`, replacing it; empty, or "CAMI: why it could not be written".
std::string Desa(const std::string& cami, const std::string& text);

// `cami` without its extension (from the last '.' of its last part, unless that part starts
// with it), or `cami` itself: the name that files written beside it share.
std::string SenseExtensio(const std::string& cami);

}  // namespace arena
