// Starts a program on the X display and reports how long it took until its first window was
// mapped, and its peak resident memory up to then; the program is then stopped.
//
//   startup_probe PROGRAM [ARGUMENTS...]
//   -> shown_ms=41.7 peak_rss_kib=52340
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Disconnect
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

struct FreeEvent
{
    void operator()(xcb_generic_event_t *event) const { std::free(event); }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: startup_probe PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get())) {
        std::fprintf(stderr, "startup_probe: no X display\n");
        return 2;
    }
    // Every top-level window is a child of the root, so its mapping is seen there.
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection.get(), screen->root, XCB_CW_EVENT_MASK, &events);
    xcb_flush(connection.get());

    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }

    bool shown = false;
    while (!shown) {
        const std::unique_ptr<xcb_generic_event_t, FreeEvent> event(
            xcb_wait_for_event(connection.get()));
        if (!event)
            break;
        shown = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
    }
    const double shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    ::kill(child, SIGKILL);
    int status = 0;
    rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (!shown) {
        std::fprintf(stderr, "startup_probe: %s showed no window\n", argv[1]);
        return 1;
    }
    std::printf("shown_ms=%.1f peak_rss_kib=%ld\n", shownMs, usage.ru_maxrss);
    return 0;
}
