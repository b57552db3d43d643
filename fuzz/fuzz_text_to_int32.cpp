// TextToInt32 on any text: a type mismatch exactly when the text is not one number with blanks
// around it; otherwise strtod's value rounded by nearbyint, or an overflow.
#include "fuzz_check.h"
#include "reference_readings.h"
#include "runtime/readings.h"

#include <cstdint>
#include <string>

namespace {

Outcome OutcomeOf(ostrim::FailureKind kind)
{
    switch (kind) {
    case ostrim::FailureKind::Overflow:
        return Outcome::Overflow;
    case ostrim::FailureKind::TypeMismatch:
        return Outcome::TypeMismatch;
    default:
        return Outcome::Value; // never expected of a failure
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = AsText(data, size);
    const Expected<std::int32_t> expected = ReferenceTextToInt32(text);
    try {
        const std::int32_t value = ostrim::TextToInt32(text);
        if (expected.outcome != Outcome::Value || value != expected.value) {
            PropertyBroken("read " + std::to_string(value)
                    + (expected.outcome == Outcome::Value
                            ? ", the reference reads " + std::to_string(expected.value)
                            : ", the reference fails"),
                text);
        }
    } catch (const ostrim::ActionError &error) {
        if (expected.outcome == Outcome::Value || OutcomeOf(error.kind()) != expected.outcome) {
            PropertyBroken("failed with " + KindName(error.kind()) + " (" + error.what()
                    + "), the reference "
                    + (expected.outcome == Outcome::Value
                            ? "reads " + std::to_string(expected.value)
                            : "fails otherwise"),
                text);
        }
    }
    return 0;
}
