// LeadingNumber on any text: the same value as strtod gives for the number the text starts with,
// and an overflow exactly where strtod overflows.
#include "fuzz_check.h"
#include "reference_readings.h"
#include "runtime/readings.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = AsText(data, size);
    const Expected<double> expected = ReferenceLeadingNumber(text);
    try {
        const double value = ostrim::LeadingNumber(text);
        if (expected.outcome != Outcome::Value)
            PropertyBroken("read " + std::to_string(value) + " where strtod overflows", text);
        if (!SameReading(value, expected.value)) {
            PropertyBroken("read " + std::to_string(value) + ", strtod reads "
                    + std::to_string(expected.value),
                text);
        }
    } catch (const ostrim::ActionError &error) {
        if (expected.outcome != Outcome::Overflow || error.kind() != ostrim::FailureKind::Overflow)
            PropertyBroken("failed with " + KindName(error.kind()) + ": " + error.what(), text);
    }
    return 0;
}
