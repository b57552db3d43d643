#pragma once

#include <string>
#include <vector>

#include <QtGlobal>

namespace ostrim {

// Qt ends a program that it cannot give a display (started over SSH, from a service) with a fatal
// message about reinstalling and an abort that leaves a core dump. While a guard lives, the
// toolkit's messages are held back; a fatal one ends the program with one line saying there is
// no display and where the command line is, and exit code 1. Whether a display can be had is the
// toolkit's own judgement, whatever the session (X11, Wayland) or the variables that name it.
class NoDisplayGuard
{
public:
    NoDisplayGuard();
    // Passes on what was held back, for a program that did get its display.
    ~NoDisplayGuard();
    NoDisplayGuard(const NoDisplayGuard &) = delete;
    NoDisplayGuard &operator=(const NoDisplayGuard &) = delete;

private:
    static void Hold(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMessageHandler m_previous = nullptr;
    std::vector<std::string> m_held;
};

inline constexpr char NoDisplayMessage[]
    = "ostrim: there is no display to open the window on; ostrim --help shows the command line";

} // namespace ostrim
