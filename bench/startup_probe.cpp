// Starts a program on the X display and reports how long it took until its first window showed
// its first painted frame, its peak resident memory up to then, and that window's size; the
// program is then stopped.
//
//   startup_probe PROGRAM [ARGUMENTS...]
//   -> painted_ms=41.7 mapped_ms=35.2 cpu_ms=30.1 peak_rss_kib=52340 size=182x348
//
// cpu_ms is the processor time the program used until it was stopped, user and system: on a
// machine busy with other work it moves far less than the time on the clock.
//
// The frame is seen through the DAMAGE extension, which reports every drawing into a window. A
// damage object goes on every top-level window as it is created, before it can be mapped, so no
// paint can come before the probe watches for it. Mapping a window can itself be reported as
// damage while the window still shows only what lies under it; a report counts as the first frame
// once the window's contents differ from the screen as it was before the program started.
// MapNotify alone comes before the program has drawn anything.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Disconnect
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};

template<typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The first event number of the DAMAGE extension, once its version has been agreed.
std::optional<std::uint8_t> StartDamage(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *extension
        = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!extension || !extension->present)
        return std::nullopt;
    const ReplyPtr<xcb_damage_query_version_reply_t> version(xcb_damage_query_version_reply(
        connection, xcb_damage_query_version(connection, 1, 1), nullptr));
    if (!version)
        return std::nullopt;
    return extension->first_event;
}

// A rectangle of a drawable's pixels, as the server gives them.
ReplyPtr<xcb_get_image_reply_t> Pixels(
    xcb_connection_t *connection, xcb_drawable_t drawable, const xcb_rectangle_t &area)
{
    return ReplyPtr<xcb_get_image_reply_t>(xcb_get_image_reply(connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, area.x, area.y, area.width,
            area.height, ~0u),
        nullptr));
}

// Whether a window shows something other than what lay beneath it before the program started.
bool HasBeenPainted(xcb_connection_t *connection, const xcb_damage_notify_event_t &damage,
    const xcb_screen_t &screen, const xcb_get_image_reply_t &before)
{
    const xcb_rectangle_t whole {0, 0, damage.geometry.width, damage.geometry.height};
    const ReplyPtr<xcb_get_image_reply_t> now = Pixels(connection, damage.drawable, whole);
    if (!now)
        return false;
    const int bytesPerPixel
        = xcb_get_image_data_length(&before) / (screen.width_in_pixels * screen.height_in_pixels);
    if (xcb_get_image_data_length(now.get()) != bytesPerPixel * whole.width * whole.height)
        return true; // not the screen's pixel format: it can only be the program's
    const std::uint8_t *window = xcb_get_image_data(now.get());
    const std::uint8_t *screenPixels = xcb_get_image_data(&before);
    const int rowBytes = bytesPerPixel * whole.width;
    for (int row = 0; row < whole.height; ++row) {
        const int y = damage.geometry.y + row;
        if (y < 0 || y >= screen.height_in_pixels || damage.geometry.x < 0
            || damage.geometry.x + whole.width > screen.width_in_pixels)
            return true;
        const std::uint8_t *under
            = screenPixels + bytesPerPixel * (y * screen.width_in_pixels + damage.geometry.x);
        if (!std::equal(window + row * rowBytes, window + (row + 1) * rowBytes, under))
            return true;
    }
    return false;
}

struct Frame
{
    double paintedMs = 0;
    double mappedMs = 0;
    int width = 0;
    int height = 0;
};

// Left for wait4 to collect, with its resource usage.
bool HasEnded(pid_t child)
{
    siginfo_t info {};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0
        && info.si_pid == child;
}

// The next event; none when the program has ended or shown nothing for a long time.
ReplyPtr<xcb_generic_event_t> NextEvent(xcb_connection_t *connection, pid_t child)
{
    constexpr auto patience = std::chrono::seconds(20);
    const Clock::time_point deadline = Clock::now() + patience;
    pollfd display {xcb_get_file_descriptor(connection), POLLIN, 0};
    for (;;) {
        if (xcb_generic_event_t *event = xcb_poll_for_event(connection))
            return ReplyPtr<xcb_generic_event_t>(event);
        if (xcb_connection_has_error(connection) || Clock::now() > deadline || HasEnded(child))
            return nullptr;
        ::poll(&display, 1, 100);
    }
}

std::optional<Frame> WaitForFirstFrame(xcb_connection_t *connection, std::uint8_t damageEvent,
    const xcb_screen_t &screen, const xcb_get_image_reply_t &before, pid_t child,
    Clock::time_point start)
{
    Frame frame;
    for (;;) {
        const ReplyPtr<xcb_generic_event_t> event = NextEvent(connection, child);
        if (!event)
            return std::nullopt;
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_CREATE_NOTIFY) {
            const auto *created = reinterpret_cast<const xcb_create_notify_event_t *>(event.get());
            if (created->parent != screen.root)
                continue;
            xcb_damage_create(connection, xcb_generate_id(connection), created->window,
                XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
            xcb_flush(connection);
        } else if (type == XCB_MAP_NOTIFY) {
            if (frame.mappedMs == 0)
                frame.mappedMs = MillisecondsSince(start);
        } else if (type == damageEvent + XCB_DAMAGE_NOTIFY) {
            const double receivedMs = MillisecondsSince(start);
            const auto *damage = reinterpret_cast<const xcb_damage_notify_event_t *>(event.get());
            if (!HasBeenPainted(connection, *damage, screen, before))
                continue;
            frame.paintedMs = receivedMs;
            frame.width = damage->geometry.width;
            frame.height = damage->geometry.height;
            return frame;
        }
        // Errors, such as a window gone before its damage object was made, are of no interest.
    }
}

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
    const std::optional<std::uint8_t> damageEvent = StartDamage(connection.get());
    if (!damageEvent) {
        std::fprintf(stderr, "startup_probe: the X server has no DAMAGE extension\n");
        return 2;
    }
    // Every top-level window is a child of the root, so its creation and mapping are seen there.
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection.get(), screen->root, XCB_CW_EVENT_MASK, &events);
    const xcb_rectangle_t wholeScreen {0, 0, screen->width_in_pixels, screen->height_in_pixels};
    const ReplyPtr<xcb_get_image_reply_t> before
        = Pixels(connection.get(), screen->root, wholeScreen);
    if (!before) {
        std::fprintf(stderr, "startup_probe: cannot read the screen\n");
        return 2;
    }

    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }

    const std::optional<Frame> frame
        = WaitForFirstFrame(connection.get(), *damageEvent, *screen, *before, child, start);

    ::kill(child, SIGKILL);
    int status = 0;
    rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (!frame) {
        std::fprintf(stderr, "startup_probe: %s painted no window\n", argv[1]);
        return 1;
    }
    const auto milliseconds = [](const timeval &time) {
        return static_cast<double>(time.tv_sec) * 1000.0
            + static_cast<double>(time.tv_usec) / 1000.0;
    };
    std::printf("painted_ms=%.1f mapped_ms=%.1f cpu_ms=%.1f peak_rss_kib=%ld size=%dx%d\n",
        frame->paintedMs, frame->mappedMs,
        milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime), usage.ru_maxrss, frame->width,
        frame->height);
    return 0;
}
