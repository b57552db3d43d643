#include "ui/qt/no_display_guard.h"

#include <cstdio>
#include <cstdlib>

#include <QString>

namespace ostrim {
namespace {

// Qt takes a plain function as its message handler, so the guard it reports to is found here;
// only one guard lives at a time, around the application's construction.
NoDisplayGuard *activeGuard = nullptr;

} // namespace

NoDisplayGuard::NoDisplayGuard()
{
    activeGuard = this;
    m_previous = qInstallMessageHandler(&NoDisplayGuard::Hold);
}

NoDisplayGuard::~NoDisplayGuard()
{
    qInstallMessageHandler(m_previous);
    activeGuard = nullptr;
    for (const std::string &line : m_held)
        std::fprintf(stderr, "%s\n", line.c_str());
}

void NoDisplayGuard::Hold(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        // What the toolkit said is about its plugins, not the user's problem; the program has
        // not started anything yet, so it ends at once.
        std::fprintf(stderr, "%s\n", NoDisplayMessage);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (activeGuard)
        activeGuard->m_held.push_back(qFormatLogMessage(type, {}, message).toStdString());
}

} // namespace ostrim
