// Text that comes from a robot or from outside the arena (its lines, names, what /proc says),
// made fit to keep and to show: valid UTF-8, no control characters.
#pragma once

#include <string>
#include <string_view>

namespace arena {

// `bytes` as valid UTF-8 with no control character: every byte that is not part of a valid
// UTF-8 sequence, and every byte of a control character (C0, DEL, C1), becomes "\xNN" (two
// upper-case hex digits). Printable text, ASCII or not, is returned as it is.
std::string TextNet(std::string_view bytes);
// Whether `bytes` are printable ASCII alone, which TextNet returns as they are: a caller that
// checks first need not copy them.
bool Imprimible(std::string_view bytes);

}  // namespace arena
