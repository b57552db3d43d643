#include "runtime/action_error.h"
#include "serial/failure_advice.h"

#include <doctest.h>

using namespace ostrim;

// What a face adds to a failure's message, by the failure's reason.
TEST_CASE("The advice follows the failure's reason, in the face's own words")
{
    constexpr FaceWords words {"Close it and go on.", "Take another.", "Go far."};
    struct Row
    {
        std::string_view name;
        FailureReason reason;
        std::string group;
        std::string advice;
    };
    const Row rows[] {
        {"in use: the face's own words", FailureReason::InUse, "", "Close it and go on."},
#ifndef _WIN32
        {"permission, a serial ports' group may: join it", FailureReason::PermissionDenied,
            "dialout",
            "Join the group dialout (sudo usermod -aG dialout $USER), then log out and in again."},
#endif
        {"permission, no such group: nothing to join", FailureReason::PermissionDenied, "", ""},
        {"console", FailureReason::Console, "",
            "Ostrim does not write to the console. Take another."},
        {"console, and no other port: what to do, not another port", FailureReason::OnlyConsoles,
            "",
            "No port here can be used, since Ostrim never writes to the system console: plug in a "
            "USB serial adapter, and it shows up as a new port. Go far."},
        {"timeout", FailureReason::Timeout, "", "Check the cable and the device's flow control."},
        {"a device server's timeout", FailureReason::ServerTimeout, "",
            "Check that the device server is on and can be reached from here."},
        {"missing: the message lists what exists", FailureReason::Missing, "", ""},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const ActionError failure(
            FailureKind::SerialLine, 13, "Port 1 (/dev/ttyUSB0) failed.", row.reason, row.group);
        CHECK(WithAdvice(failure.message(), failure, words)
            == "Port 1 (/dev/ttyUSB0) failed." + (row.advice.empty() ? "" : " " + row.advice));
    }
    // A device server's messages end with its address's words, not a full stop.
    const ActionError late(FailureKind::SerialLine, 0,
        "socket://[::1]:4001 did not accept the connection within 5 seconds",
        FailureReason::ServerTimeout);
    CHECK(WithAdvice(late.message(), late, words)
        == "socket://[::1]:4001 did not accept the connection within 5 seconds. Check that the "
           "device server is on and can be reached from here.");
}
