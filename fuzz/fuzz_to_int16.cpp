// ToInt16 on any double: the nearest integer with ties to even, as nearbyint gives it, or an
// overflow outside the 16-bit range. The input is read both as the eight bytes of a double (any
// bit pattern, NaN and infinities included) and as a text, which reaches the halves near the
// range's ends far more often than random bits do.
#include "fuzz_check.h"
#include "reference_readings.h"
#include "runtime/readings.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Check(double value, std::string_view input)
{
    const Expected<std::int16_t> expected = ReferenceToInt16(value);
    try {
        const std::int16_t rounded = ostrim::ToInt16(value);
        if (expected.outcome != Outcome::Value || rounded != expected.value) {
            PropertyBroken(std::to_string(value) + " became " + std::to_string(rounded)
                    + (expected.outcome == Outcome::Value
                            ? ", nearbyint gives " + std::to_string(expected.value)
                            : ", which is out of range"),
                input);
        }
    } catch (const ostrim::ActionError &error) {
        if (expected.outcome != Outcome::Overflow || error.kind() != ostrim::FailureKind::Overflow)
            PropertyBroken(std::to_string(value) + " failed with " + error.what(), input);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input = AsText(data, size);
    if (size >= sizeof(double)) {
        double bits = 0;
        std::memcpy(&bits, data, sizeof bits);
        Check(bits, input);
    }
    const Expected<double> asText = ReferenceLeadingNumber(input);
    if (asText.outcome == Outcome::Value)
        Check(asText.value, input);
    return 0;
}
