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

}  // namespace quarn
