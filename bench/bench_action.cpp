// What one press costs next to what it could cost at best. The floor is the same cycle written by
// hand with termios: open, configure 2400 8N1, write two bytes, drain, close. Both run on a
// pseudo-terminal, which has no wire, so the cycle is all program and system; the frame itself
// then takes 8.33 ms on a real 2400-baud wire (2 bytes of 10 bits each).
#include "output/output_command.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "serial/posix_serial_line.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QLockFile>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr double wireMicroseconds = 2 * 10 * 1e6 / 2400; // 8333 us
constexpr char lockDirectory[] = "/var/lock"; // where QSerialPort puts its lock files

// The board's side of the terminal, read on a thread of its own so that the output queue never
// fills however many cycles run.
class DrainedTerminal
{
public:
    DrainedTerminal()
        : m_reader([this] {
            while (!m_stop)
                m_terminal.read(4096, 20ms);
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

class FixedEntries final : public ostrim::ActionWindow
{
public:
    std::string PortText() const override { return "1"; }
    std::string AddressText() const override { return "7"; }
    std::int16_t OutputState(int index) const override { return index % 2 == 0; }
    void ShowMessage(const std::string &text) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
        std::abort();
    }
};

void ActionCycle(benchmark::State &state)
{
    DrainedTerminal board;
    ostrim::PosixSerialLine line([&] { return std::vector<std::string> {board.devicePath()}; });
    FixedEntries window;
    for (auto _ : state)
        ostrim::SetOutputs(window, line);
}

void TermiosFloor(benchmark::State &state)
{
    DrainedTerminal board;
    const unsigned char frame[] = {0x07, 0xA0};
    for (auto _ : state) {
        const int handle = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
        termios settings {};
        ::tcgetattr(handle, &settings);
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B2400);
        ::cfsetospeed(&settings, B2400);
        settings.c_cflag
            = (settings.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD;
        ::tcsetattr(handle, TCSANOW, &settings);
        if (::write(handle, frame, sizeof frame) != sizeof frame)
            state.SkipWithError("write failed");
        ::tcdrain(handle);
        ::close(handle);
    }
}

// The part of the action cycle that the floor does not have: the lock file that QSerialPort
// takes around every open, made the same way and in the same directory.
void SerialPortLockFile(benchmark::State &state)
{
    QLockFile lock(QString::fromLatin1(lockDirectory) + "/LCK..ostrim_bench");
    for (auto _ : state) {
        if (!lock.tryLock(0))
            state.SkipWithError("the lock file could not be taken");
        lock.unlock();
    }
}

BENCHMARK(ActionCycle)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(TermiosFloor)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(SerialPortLockFile)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

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
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_microseconds[run.run_name.function_name]
                    = run.real_accumulated_time / static_cast<double>(run.iterations) * 1e6;
        }
    }

    void PrintComparison() const
    {
        const double action = Get("ActionCycle");
        const double floor = Get("TermiosFloor");
        const double lock = Get("SerialPortLockFile");
        std::printf("\nlock directory %s is %s\n", lockDirectory, LockDirectoryKind().c_str());
        std::printf("action cycle   %9.1f us  = %.2f x the termios floor, %.1f%% of the %.0f us "
                    "the frame takes on the wire\n",
            action, action / floor, 100 * action / wireMicroseconds, wireMicroseconds);
        std::printf("termios floor  %9.1f us  = %.1f%% of the wire time\n", floor,
            100 * floor / wireMicroseconds);
        std::printf(
            "lock file      %9.1f us  = %.0f%% of the action cycle\n", lock, 100 * lock / action);
    }

private:
    double Get(const std::string &name) const
    {
        const auto found = m_microseconds.find(name);
        return found == m_microseconds.end() ? 0.0 : found->second;
    }

    std::map<std::string, double> m_microseconds;
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
