#pragma once
// Texts shown to the user are UTF-16 throughout the core, whatever the width of wchar_t on the
// platform; adapters convert at the edge (the Windows adapters reinterpret, the console encodes).
#include <string>
#include <string_view>

namespace quarn {

using WideText = std::u16string;
using WideView = std::u16string_view;

// UTF-8 <-> UTF-16. Unpaired surrogates and malformed bytes become U+FFFD.
std::string toUtf8(WideView text);
WideText fromUtf8(std::string_view text);

// A POSIX path (or any argument that may become one) is bytes, not text: a folder named
// "fw-\xe9t\xe9" in Latin-1 must still be opened. So each byte that is not part of valid UTF-8
// travels through the wide text as U+DC80 + (byte - 0x80), a lone low surrogate that no valid
// text holds (Python's "surrogateescape"), and toPathBytes turns it back into the byte; all
// else is UTF-8 both ways. toUtf8 shows such a byte as U+FFFD, so shown texts stay valid UTF-8.
WideText fromPathBytes(std::string_view bytes);
std::string toPathBytes(WideView path);

}  // namespace quarn
