#pragma once

#include <string>
#include <string_view>

namespace ostrim {

// Text from outside the program (typed by the user, sent by a device, chosen by another process)
// made safe for a message box or a terminal: every control character, C0, DEL or C1 (as UTF-8),
// becomes '?', so that none can move a terminal's cursor or change its colours.
std::string Printable(std::string_view text);

// A user's text quoted in a message: printable, and short enough for a message box, whatever was
// typed.
std::string QuoteForMessage(std::string_view text);

// As QuoteForMessage, without the quotes, for a text that reads as a number.
std::string ShownForMessage(std::string_view text);

} // namespace ostrim
