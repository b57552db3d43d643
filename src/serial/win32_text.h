#pragma once

#include <string>
#include <string_view>

namespace ostrim {

// The program speaks UTF-8; Windows speaks UTF-16 (its window system, command line, environment
// and paths). Text crosses only here, never through the ANSI code page.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

} // namespace ostrim
