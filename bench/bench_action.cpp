// What one press costs next to what it could cost at best. The floor is the same cycle written by
// hand with termios: open, configure 2400 8N1, write two bytes, drain, close. Both run on a
// pseudo-terminal, which has no wire, so the cycle is all program and system; the frame itself
// then takes 8.33 ms on a real 2400-baud wire (2 bytes of 10 bits each).
//
// The line is only ever handed pseudo-terminals: the system's own ports are listed (what the
// first press would wait for), but never opened, since one of them may be the console.
#include "output/output_command.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "serial/posix/console.h"
#include "serial/posix/port_sharing.h"
#include "serial/posix/posix_line_backend.h"
#include "serial/posix/system_ports.h"
#include "serial/posix/terminal_settings.h"
#include "serial/posix/tty_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double wireMicroseconds = 2 * 10 * 1e6 / 2400; // 8333 us
constexpr char lockDirectory[] = "/run/lock"; // the first place the line looks for lock files

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Times each press on its own as well, for the median that the pyserial script gives: a few slow
// presses, when other programs take the processor, move the mean but not the median.
template<typename Press>
void TimeEachPress(benchmark::State &state, Press press)
{
    std::vector<double> microseconds;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (!press()) {
            state.SkipWithError("the frame could not be written");
            return;
        }
        microseconds.push_back(Microseconds(Clock::now() - start));
    }
    state.counters["median_us"] = Median(microseconds);
}

// The board's side of the terminal, emptied on a thread of its own so that the output queue never
// fills however many cycles run. It looks every few milliseconds rather than waiting for bytes:
// a reader woken by every frame would take the processor from the press it is measuring.
class DrainedTerminal
{
public:
    DrainedTerminal()
        : m_reader([this] {
            ::fcntl(m_terminal.masterHandle(), F_SETFL, O_NONBLOCK);
            while (!m_stop) {
                std::this_thread::sleep_for(5ms);
                std::uint8_t buffer[4096];
                while (::read(m_terminal.masterHandle(), buffer, sizeof buffer) > 0) { }
            }
        })
    { }
    ~DrainedTerminal()
    {
        m_stop = true;
        m_reader.join();
    }
    const std::string &devicePath() const { return m_terminal.devicePath(); }

private:
    PseudoTerminal m_terminal;
    std::atomic<bool> m_stop = false;
    std::thread m_reader;
};

// Port 1, address 7, Outputs 1 and 3.
ostrim::GivenEntries FixedEntries()
{
    return {"1", "7", {1, 0, 1, 0}};
}

// A press that must send: any message ends the run.
void PressAndSend(ostrim::SerialLine &line)
{
    const ostrim::ActionOutcome outcome = ostrim::SetOutputs(FixedEntries(), line);
    if (outcome.ending != ostrim::Ending::Sent) {
        std::fprintf(stderr, "unexpected message: %s\n", outcome.message.c_str());
        std::abort();
    }
}

void ActionCycle(benchmark::State &state)
{
    DrainedTerminal board;
    ostrim::SerialPortLine line
        = ostrim::PosixLine([&] { return std::vector<std::string> {board.devicePath()}; });
    TimeEachPress(state, [&] {
        PressAndSend(line);
        return true; // a message would have ended the run
    });
}

// 2400 baud, 8N1, raw, as both floors hand it to the driver.
termios Raw2400(termios settings)
{
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B2400);
    ::cfsetospeed(&settings, B2400);
    settings.c_cflag
        = (settings.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD;
    return settings;
}

// The floor: open, configure 2400 8N1, write two bytes, drain, close. True when the frame went.
bool TermiosCycle(const std::string &devicePath)
{
    const unsigned char frame[] = {0x07, 0xA0};
    const int handle = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY);
    termios settings {};
    ::tcgetattr(handle, &settings);
    settings = Raw2400(settings);
    ::tcsetattr(handle, TCSANOW, &settings);
    const bool written = ::write(handle, frame, sizeof frame) == sizeof frame;
    ::tcdrain(handle);
    ::close(handle);
    return written;
}

// The floor with what a fair share of the port asks for besides: the claims (flock and TIOCEXCL),
// and the port's own settings read first and given back after. No press can do with less.
bool ClaimingTermiosCycle(const std::string &devicePath)
{
    const unsigned char frame[] = {0x07, 0xA0};
    const int handle = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ::flock(handle, LOCK_EX | LOCK_NB);
    ::ioctl(handle, TIOCEXCL);
    termios saved {};
    ::tcgetattr(handle, &saved);
    const termios settings = Raw2400(saved);
    ::tcsetattr(handle, TCSANOW, &settings);
    const bool written = ::write(handle, frame, sizeof frame) == sizeof frame;
    ::tcdrain(handle);
    ::tcsetattr(handle, TCSANOW, &saved);
    ::ioctl(handle, TIOCNXCL);
    ::close(handle);
    return written;
}

// The system calls a press makes, in its order, with nothing around them: what the press would
// cost if the line added nothing of its own. The lock file's name is made beforehand. The
// settings go through the kernel's termios2 (TCGETS2, TCSETS2) as the line's do.
class SameCalls
{
public:
    explicit SameCalls(std::string devicePath)
        : m_devicePath(std::move(devicePath))
        , m_lockFile("/run/lock/" + ostrim::LockFileName(m_devicePath))
        , m_consoles(::open("/sys/class/tty/console/active", O_RDONLY | O_CLOEXEC))
    {
        char text[512];
        if (m_consoles >= 0 && ::read(m_consoles, text, sizeof text) < 0)
            std::perror("console/active");
    }
    ~SameCalls()
    {
        if (m_consoles >= 0)
            ::close(m_consoles);
    }
    SameCalls(const SameCalls &) = delete;
    SameCalls &operator=(const SameCalls &) = delete;

    bool operator()() const
    {
        const unsigned char frame[] = {0x07, 0xA0};
        pollfd consoles {m_consoles, POLLPRI, 0};
        ::poll(&consoles, 1, 0);
        struct stat status = {};
        ::lstat(m_devicePath.c_str(), &status);
        ::lstat(m_lockFile.c_str(), &status);
        const int handle = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ostrim::TerminalSettings saved;
        ostrim::ReadTerminalSettings(handle, saved);
        ::flock(handle, LOCK_EX | LOCK_NB);
        ::ioctl(handle, TIOCEXCL);
        ostrim::TerminalSettings settings = saved;
        settings.c_iflag = 0;
        settings.c_oflag = 0;
        settings.c_lflag = 0;
        settings.c_cflag = B2400 | CS8 | CLOCAL | CREAD;
        settings.c_ispeed = settings.c_ospeed = 2400;
        ostrim::ApplyTerminalSettings(handle, settings);
        ostrim::TerminalSettings held;
        ostrim::ReadTerminalSettings(handle, held);
        const bool written = ::write(handle, frame, sizeof frame) == sizeof frame;
        int pending = 0;
        ::ioctl(handle, TIOCOUTQ, &pending);
        ::tcdrain(handle);
        ostrim::ApplyTerminalSettings(handle, saved);
        ::ioctl(handle, TIOCNXCL);
        ::close(handle);
        return written;
    }

private:
    std::string m_devicePath;
    std::string m_lockFile;
    int m_consoles = -1;
};

void TermiosFloor(benchmark::State &state)
{
    DrainedTerminal board;
    TimeEachPress(state, [&] { return TermiosCycle(board.devicePath()); });
}

void ClaimingTermiosFloor(benchmark::State &state)
{
    DrainedTerminal board;
    TimeEachPress(state, [&] { return ClaimingTermiosCycle(board.devicePath()); });
}

// The press, both floors and the press's own calls taken in turn, each on a terminal of its own,
// so that whatever else the machine does at a moment falls on all of them alike: the ratios to
// read come from here.
void PressBesideFloors(benchmark::State &state)
{
    DrainedTerminal pressed;
    DrainedTerminal bare;
    DrainedTerminal claimed;
    DrainedTerminal byHand;
    const SameCalls sameCalls(byHand.devicePath());
    ostrim::SerialPortLine line
        = ostrim::PosixLine([&] { return std::vector<std::string> {pressed.devicePath()}; });
    std::vector<double> press;
    std::vector<double> floor;
    std::vector<double> claiming;
    std::vector<double> calls;
    const auto timed = [](std::vector<double> &into, auto &&cycle) {
        const Clock::time_point start = Clock::now();
        const bool written = cycle();
        into.push_back(Microseconds(Clock::now() - start));
        return written;
    };
    for (auto _ : state) {
        const bool written = timed(press,
                                 [&] {
                                     PressAndSend(line);
                                     return true;
                                 })
            && timed(floor, [&] { return TermiosCycle(bare.devicePath()); })
            && timed(claiming, [&] { return ClaimingTermiosCycle(claimed.devicePath()); })
            && timed(calls, sameCalls);
        if (!written) {
            state.SkipWithError("a floor's frame could not be written");
            return;
        }
    }
    state.counters["press_us"] = Median(press);
    state.counters["floor_us"] = Median(floor);
    state.counters["claiming_us"] = Median(claiming);
    state.counters["press_per_floor"] = Median(press) / Median(floor);
    state.counters["press_per_claiming"] = Median(press) / Median(claiming);
    state.counters["same_calls_us"] = Median(calls);
    state.counters["same_calls_per_floor"] = Median(calls) / Median(floor);
}

// The pieces of the checks, each on its own, to tell what costs what. A press looks at the kept
// consoles; it reads them afresh only after the kernel said they changed.
void ConsoleLook(benchmark::State &state)
{
    ostrim::ConsoleWatch watch;
    for (auto _ : state)
        benchmark::DoNotOptimize(watch.Current());
}

void ConsoleRead(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ostrim::ActiveConsoles());
}

// Whether the node is a port at all, by its tty driver: a press looks in the table it keeps, and
// reads the kernel's afresh only for a device it does not know as a port.
dev_t DeviceNumber(const std::string &path)
{
    struct stat status = {};
    ::stat(path.c_str(), &status);
    return status.st_rdev;
}

void DriverLook(benchmark::State &state)
{
    const PseudoTerminal board;
    const dev_t device = DeviceNumber(board.devicePath());
    ostrim::TtyDrivers drivers;
    for (auto _ : state)
        benchmark::DoNotOptimize(drivers.IsSerialPort(device));
}

void DriverRead(benchmark::State &state)
{
    const PseudoTerminal board;
    const dev_t device = DeviceNumber(board.devicePath());
    for (auto _ : state)
        benchmark::DoNotOptimize(ostrim::IsSerialPortDevice(device));
}

// As a press looks: in each distinct lock directory, under the name of a path that is no link.
void LockFileCheck(benchmark::State &state)
{
    const PseudoTerminal board;
    ostrim::SharingPlaces places;
    places.lockDirectories = ostrim::DistinctDirectories(places.lockDirectories);
    for (auto _ : state)
        benchmark::DoNotOptimize(ostrim::LockFileOwner(board.devicePath(), places, false));
}

// A port list that does all the work of listing the system's ports, but hands the line only the
// pseudo-terminal: the press then costs what it would with a real list, on a port that is safe.
ostrim::SystemPortList ListingOnly(const std::string &devicePath)
{
    return ostrim::SystemPortList({}, [devicePath] {
        benchmark::DoNotOptimize(ostrim::ReportedSerialPorts());
        return std::vector<ostrim::PortDetails> {{devicePath}};
    });
}

// What the first press would wait for if nothing had listed the ports before it. Only listed,
// never opened.
void ListSystemPorts(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ostrim::SystemPortList {}());
}

enum class ListState { Warm, ListedInBackground, Cold };

// One press on a port list in the given state, timed by hand so that making a fresh list and
// reading it in the background, as the window does when it is shown, stay out of the figure.
void PressWithPortList(benchmark::State &state)
{
    const auto listState = static_cast<ListState>(state.range(0));
    DrainedTerminal board;
    const ostrim::SystemPortList warm = ListingOnly(board.devicePath());
    warm();
    for (auto _ : state) {
        ostrim::SystemPortList fresh = ListingOnly(board.devicePath());
        if (listState == ListState::ListedInBackground)
            std::async(std::launch::async, [&fresh] { fresh(); }).wait();
        ostrim::SerialPortLine line
            = ostrim::PosixLine(listState == ListState::Warm ? warm : fresh);
        const Clock::time_point start = Clock::now();
        PressAndSend(line);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// A press while the terminal's output is stopped (as by XOFF): the frame can never leave, and the
// press must give up a second after the write. The write is the line's first look at the clock.
void PressWithOutputStopped(benchmark::State &state)
{
    const PseudoTerminal board;
    const int otherEnd = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    if (otherEnd < 0 || ::tcflow(otherEnd, TCOOFF) != 0) {
        if (otherEnd >= 0)
            ::close(otherEnd);
        state.SkipWithError("the terminal's output could not be stopped");
        return;
    }
    double writeToMessage = 0;
    double press = 0;
    for (auto _ : state) {
        std::optional<Clock::time_point> writtenAt;
        ostrim::LineEnvironment environment;
        environment.clock.now = [&writtenAt] {
            const Clock::time_point now = Clock::now();
            if (!writtenAt)
                writtenAt = now;
            return now;
        };
        ostrim::SerialPortLine line = ostrim::PosixLine(
            [&] { return std::vector<std::string> {board.devicePath()}; }, environment);
        const Clock::time_point start = Clock::now();
        const ostrim::ActionOutcome outcome = ostrim::SetOutputs(FixedEntries(), line);
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (!writtenAt || !outcome.failure
            || outcome.failure->reason() != ostrim::FailureReason::Timeout) {
            state.SkipWithError(("no timeout: " + outcome.message).c_str());
            break;
        }
        // The message is shown as soon as the action returns.
        writeToMessage = std::max(writeToMessage, Microseconds(end - *writtenAt));
        press = std::max(press, Microseconds(end - start));
    }
    ::tcflow(otherEnd, TCOON);
    ::close(otherEnd);
    state.counters["write_to_message_ms_max"] = writeToMessage / 1000;
    state.counters["press_ms_max"] = press / 1000;
}

// Other programs share the machine: each figure is the median of five runs, so that a burst of
// their work lands in one run and not in the comparison.
void Repeated(benchmark::internal::Benchmark *benchmark)
{
    benchmark->UseRealTime()
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.4)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

BENCHMARK(ActionCycle)->Apply(Repeated);
BENCHMARK(TermiosFloor)->Apply(Repeated);
BENCHMARK(ClaimingTermiosFloor)->Apply(Repeated);
BENCHMARK(PressBesideFloors)->Apply(Repeated);
BENCHMARK(ConsoleLook)->Apply(Repeated);
BENCHMARK(ConsoleRead)->Apply(Repeated);
BENCHMARK(DriverLook)->Apply(Repeated);
BENCHMARK(DriverRead)->Apply(Repeated);
BENCHMARK(LockFileCheck)->Apply(Repeated);
BENCHMARK(ListSystemPorts)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(PressWithPortList)
    ->ArgName("list")
    ->Arg(static_cast<int>(ListState::Warm))
    ->Arg(static_cast<int>(ListState::ListedInBackground))
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);
BENCHMARK(PressWithPortList)
    ->ArgName("list")
    ->Arg(static_cast<int>(ListState::Cold))
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(30);
BENCHMARK(PressWithOutputStopped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

std::string LockDirectoryKind()
{
    struct statfs info
    { };
    if (::statfs(lockDirectory, &info) != 0)
        return "unknown";
    return info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC ? "in memory (tmpfs)"
                                                                    : "on disk";
}

// Keeps each benchmark's time per iteration for the comparison printed at the end.
class ComparingReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, so that a saved report stays plain text.
    ComparingReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular)
    { }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (run.error_occurred || !(median || single))
                continue;
            const std::string &args = run.run_name.args;
            m_microseconds[run.run_name.function_name + (args.empty() ? "" : "/" + args)]
                = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e6;
            for (const auto &[name, counter] : run.counters)
                m_counters[run.run_name.function_name + "." + name] = counter.value;
        }
    }

    // Lines of "name value" that bench/run.sh reads, then the same in words.
    void PrintComparison() const
    {
        const double action = Get("ActionCycle");
        const double floor = Get("TermiosFloor");
        const double warm = Get("PressWithPortList/list:0");
        const double background = Get("PressWithPortList/list:1");
        const double cold = Get("PressWithPortList/list:2");
        std::printf("\nfigure press_us %.1f\nfigure floor_us %.1f\n", action, floor);
        std::printf("figure press_median_us %.1f\nfigure floor_median_us %.1f\n",
            Counter("ActionCycle.median_us"), Counter("TermiosFloor.median_us"));
        std::printf("figure turns_press_per_floor %.2f\nfigure turns_press_per_claiming %.2f\n",
            Counter("PressBesideFloors.press_per_floor"),
            Counter("PressBesideFloors.press_per_claiming"));
        std::printf("figure turns_same_calls_per_floor %.2f\n",
            Counter("PressBesideFloors.same_calls_per_floor"));
        std::printf("\nlock directory %s is %s\n", lockDirectory, LockDirectoryKind().c_str());
        std::printf("press          %9.1f us  = %.2f x the termios floor, %.2f%% of the %.0f us "
                    "the frame takes on the wire\n",
            action, action / floor, 100 * action / wireMicroseconds, wireMicroseconds);
        std::printf("medians        press %.1f us, termios floor %.1f us (%.2f x), claiming floor "
                    "%.1f us\n",
            Counter("ActionCycle.median_us"), Counter("TermiosFloor.median_us"),
            Counter("ActionCycle.median_us") / Counter("TermiosFloor.median_us"),
            Counter("ClaimingTermiosFloor.median_us"));
        std::printf("in turns       press %.1f us, termios floor %.1f us, claiming floor %.1f us: "
                    "%.2f x the termios floor, %.2f x the claiming floor\n",
            Counter("PressBesideFloors.press_us"), Counter("PressBesideFloors.floor_us"),
            Counter("PressBesideFloors.claiming_us"), Counter("PressBesideFloors.press_per_floor"),
            Counter("PressBesideFloors.press_per_claiming"));
        std::printf(
            "               the press's own system calls by hand %.1f us = %.2f x the termios "
            "floor\n",
            Counter("PressBesideFloors.same_calls_us"),
            Counter("PressBesideFloors.same_calls_per_floor"));
        std::printf("termios floor  %9.1f us  = %.2f%% of the wire time\n", floor,
            100 * floor / wireMicroseconds);
        std::printf(
            "checks         a look at the kept consoles %.2f us (reading them afresh %.1f us), "
            "the lock files %.1f us\n",
            Get("ConsoleLook"), Get("ConsoleRead"), Get("LockFileCheck"));
        std::printf("               the node's tty driver in the kept table %.2f us (reading the "
                    "kernel's table afresh %.1f us)\n",
            Get("DriverLook"), Get("DriverRead"));
        std::printf("first press, list read in the background at show %9.1f us: %+.1f us against "
                    "a warm list (%.1f us); %.1f us with a cold list\n",
            background, background - warm, warm, cold);
        std::printf("listing the system's ports %.1f ms\n", Get("ListSystemPorts") / 1000);
        std::printf("output stopped: message %.1f ms after the write, press over after %.1f ms "
                    "(the worst of its presses)\n",
            Counter("PressWithOutputStopped.write_to_message_ms_max"),
            Counter("PressWithOutputStopped.press_ms_max"));
    }

private:
    double Get(const std::string &name) const
    {
        const auto found = m_microseconds.find(name);
        return found == m_microseconds.end() ? 0.0 : found->second;
    }
    double Counter(const std::string &name) const
    {
        const auto found = m_counters.find(name);
        return found == m_counters.end() ? 0.0 : found->second;
    }

    std::map<std::string, double> m_microseconds;
    std::map<std::string, double> m_counters;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    ComparingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintComparison();
    benchmark::Shutdown();
    return 0;
}
