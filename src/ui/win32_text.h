#pragma once

#include <string>
#include <string_view>

namespace ostrim {

// The action speaks UTF-8; the window system speaks UTF-16.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

} // namespace ostrim
