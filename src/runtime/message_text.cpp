#include "runtime/message_text.h"

namespace ostrim {

std::string Printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0080 to U+009F are C2 80 to C2 9F in UTF-8; U+009B starts an escape sequence as ESC [
        // does.
        const bool c1 = c == 0xC2 && i + 1 < text.size()
            && static_cast<unsigned char>(text[i + 1]) >= 0x80
            && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1)
            ++i;
        shown += c < 0x20 || c == 0x7F || c1 ? '?' : text[i];
    }
    return shown;
}

std::string ShownForMessage(std::string_view text)
{
    constexpr std::size_t maxShown = 40;
    std::string shown = Printable(text);
    if (shown.size() <= maxShown)
        return shown;
    shown.resize(maxShown);
    // Do not leave half of a UTF-8 sequence behind.
    while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80)
        shown.pop_back();
    if (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0x80) != 0)
        shown.pop_back();
    return shown + "...";
}

std::string QuoteForMessage(std::string_view text)
{
    return '"' + ShownForMessage(text) + '"';
}

} // namespace ostrim
