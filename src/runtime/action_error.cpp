#include "runtime/action_error.h"

namespace ostrim {

ActionError::ActionError(FailureKind kind, const std::string &message)
    : ActionError(kind, static_cast<int>(kind), message)
{ }

ActionError::ActionError(FailureKind kind, int number, const std::string &message)
    : std::runtime_error(message)
    , m_kind(kind)
    , m_number(number)
{ }

std::string QuoteForMessage(const std::string &text)
{
    constexpr std::size_t maxShown = 40;
    std::string shown;
    for (const char c : text) {
        if (shown.size() == maxShown) {
            // Do not leave half of a UTF-8 sequence behind.
            while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80)
                shown.pop_back();
            if (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0x80) != 0)
                shown.pop_back();
            shown += "...";
            break;
        }
        shown += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return '"' + shown + '"';
}

} // namespace ostrim
