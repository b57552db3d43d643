#pragma once

#include <string>
#include <string_view>

namespace ostrim {

// The program speaks UTF-8; the system speaks UTF-16, never through the ANSI code page.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

} // namespace ostrim
