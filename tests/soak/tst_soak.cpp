// Many actions in a row on one pseudo-terminal, with varied valid entries, while a reader on the
// far end checks every frame. Nothing may be lost, reordered or torn, and the program may not
// grow: open descriptors and the heap in use at the end are those after the first 1,000 actions.
// Only what the machine's load cannot move is asserted. How the processor time of an action at the
// end compares with one at the start is printed as a ratio for `make soak` and `make bench` to
// report, and never fails the test: other work on the machine moves it by more than a program that
// grows would.
//
// OSTRIM_SOAK_ACTIONS sets the number of actions (2,000 unless set; `make soak` runs 100,000).
#include "action_fixtures.h"
#include "output/output_command.h"
#include "output/set_outputs.h"
#include "pseudo_terminal.h"
#include "serial/posix/posix_line_backend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <doctest.h>
#include <malloc.h>
#include <time.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// One press: the texts the user typed and the frame they must give.
struct Press
{
    std::string portText;
    std::string addressText;
    OutputStates states {};
    Frame frame {};
};

// Different ways of typing port 1 and an address, each with its value known without the
// program's readings.
Press PressNumber(int n)
{
    static const std::string portTexts[] = {"1", " 1", "1abc", "1.4", "0.6", "1e0", "\t1 ", "+1"};
    const int address = 1 + n % 255;
    std::string addressText;
    switch (n % 5) {
    case 0:
        addressText = std::to_string(address);
        break;
    case 1:
        addressText = " " + std::to_string(address) + "\t";
        break;
    case 2:
        addressText = std::to_string(address) + ".0";
        break;
    case 3:
        addressText = std::to_string(address) + "e0";
        break;
    case 4:
        addressText = std::to_string(address * 10) + "e-1";
        break;
    }
    Press press;
    press.portText = portTexts[static_cast<std::size_t>(n) % std::size(portTexts)];
    press.addressText = addressText;
    const int ticks = (n / 5) % 16;
    for (std::size_t i = 0; i < 4; ++i)
        press.states[i] = (ticks >> i) & 1;
    const int mask
        = (ticks & 1) * 128 + (ticks >> 1 & 1) * 64 + (ticks >> 2 & 1) * 32 + (ticks >> 3 & 1) * 16;
    press.frame = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(mask)};
    return press;
}

// Reads the far end on a thread of its own, as a board would, comparing every byte with the
// frames in the order they were sent.
class FrameChecker
{
public:
    FrameChecker(PseudoTerminal &board, std::vector<std::uint8_t> expected)
        : m_board(board)
        , m_expected(std::move(expected))
        , m_thread([this] { Run(); })
    { }
    ~FrameChecker()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Waits for the rest of the bytes sent; afterwards the counts below are final.
    void Finish(std::size_t bytesSent)
    {
        m_sent = bytesSent;
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::size_t received() const { return m_received; }
    // Returns once that many bytes have been read, or after a few seconds if they never come.
    void WaitFor(std::size_t bytes) const
    {
        const auto giveUp = Clock::now() + 5s;
        while (m_received < bytes && Clock::now() < giveUp)
            std::this_thread::sleep_for(1ms);
    }
    // The offset of the first byte that differs from what was sent, or -1.
    long long firstMismatch() const { return m_firstMismatch; }

private:
    void Run()
    {
        auto quietSince = Clock::now();
        while (m_received < m_expected.size() && !(m_stop && m_received >= m_sent)) {
            const std::vector<std::uint8_t> bytes = m_board.read(4096, 20ms);
            for (const std::uint8_t byte : bytes) {
                if (m_firstMismatch < 0
                    && (m_received >= m_expected.size() || byte != m_expected[m_received]))
                    m_firstMismatch = static_cast<long long>(m_received);
                ++m_received;
            }
            if (!bytes.empty())
                quietSince = Clock::now();
            else if (m_stop && Clock::now() - quietSince > 2s)
                break;
        }
        const std::vector<std::uint8_t> extra = m_board.readAll(100ms);
        if (!extra.empty() && m_firstMismatch < 0)
            m_firstMismatch = static_cast<long long>(m_received);
        m_received += extra.size();
    }

    PseudoTerminal &m_board;
    const std::vector<std::uint8_t> m_expected;
    std::atomic<bool> m_stop = false;
    std::atomic<std::size_t> m_sent = 0;
    std::atomic<std::size_t> m_received = 0;
    std::atomic<long long> m_firstMismatch = -1;
    std::thread m_thread;
};

// What the program holds, not what the allocator keeps: resident memory and the C library's own
// counters also count memory kept for reuse (per-thread caches, pages not yet returned), and when
// that settles differs from one C library to the next. So every block handed out through the
// global operator new is counted here, from the allocation to its release.
std::atomic<std::size_t> heapInUse = 0;

std::size_t HeapInUse()
{
    return heapInUse;
}

Clock::duration ThreadProcessorTime()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The time that a tenth of the actions stay under: a program that grows makes every action
// slower, the quick ones too, while a stretch of interruptions from outside only slows some.
double TypicalMicroseconds(std::vector<Clock::duration> durations)
{
    const auto quantile = durations.begin() + static_cast<std::ptrdiff_t>(durations.size() / 10);
    std::nth_element(durations.begin(), quantile, durations.end());
    return std::chrono::duration<double, std::micro>(*quantile).count();
}

int ActionCount()
{
    const char *const set = std::getenv("OSTRIM_SOAK_ACTIONS");
    const int count = set ? std::atoi(set) : 0;
    return count > 0 ? std::max(count, 2000) : 2000;
}

} // namespace

void *operator new(std::size_t size)
{
    void *const block = std::malloc(size == 0 ? 1 : size);
    if (!block)
        throw std::bad_alloc();
    heapInUse += ::malloc_usable_size(block);
    return block;
}

// Not inlined: where it is, the compiler sees free() given what operator new returned and takes
// the pair for a mismatch.
[[gnu::noinline]] void operator delete(void *block) noexcept
{
    if (!block)
        return;
    heapInUse -= ::malloc_usable_size(block);
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept
{
    operator delete(block);
}

TEST_CASE("Every frame arrives and nothing grows")
{
    const int actions = ActionCount();
    const int tenth = actions / 10;
    constexpr int settled = 1000;
    std::vector<Press> presses;
    std::vector<std::uint8_t> expected;
    for (int n = 0; n < actions; ++n) {
        presses.push_back(PressNumber(n));
        expected.insert(expected.end(), presses.back().frame.begin(), presses.back().frame.end());
    }

    PseudoTerminal board;
    SerialPortLine line = PosixLine(PortsAre({board.devicePath()}));
    FrameChecker checker(board, expected);

    std::size_t sent = 0;
    std::string failure;
    const auto pressNext = [&] {
        EntriesWindow window(
            presses[sent].portText, presses[sent].addressText, presses[sent].states);
        const Clock::duration start = ThreadProcessorTime();
        PressSetOutputs(window, line);
        const Clock::duration took = ThreadProcessorTime() - start;
        if (!window.messages.empty() && failure.empty())
            failure = "action " + std::to_string(sent) + ": " + window.messages.front();
        ++sent;
        return took;
    };

    std::vector<Clock::duration> took(static_cast<std::size_t>(actions));
    // The reader gathers what arrives for a while before it hands it over, so the heap is taken
    // once it has caught up and holds no buffer: then all that is left is what the program holds.
    const auto quietHeap = [&] {
        checker.WaitFor(2 * sent);
        return HeapInUse();
    };
    int descriptorsSettled = 0;
    std::size_t heapSettled = 0;
    for (int n = 0; n < actions && failure.empty(); ++n) {
        took[static_cast<std::size_t>(n)] = pressNext();
        if (n + 1 == settled) {
            descriptorsSettled = OpenFileDescriptorCount();
            heapSettled = quietHeap();
        }
    }
    const int descriptorsAtEnd = OpenFileDescriptorCount();
    const std::size_t heapAtEnd = quietHeap();

    std::printf(
        "after %d actions: %d descriptors, %zu bytes of heap in use; at the end: %d, %zu bytes\n",
        settled, descriptorsSettled, heapSettled, descriptorsAtEnd, heapAtEnd);
    if (failure.empty()) {
        const double firstTenth = TypicalMicroseconds({took.begin(), took.begin() + tenth});
        const double lastTenth = TypicalMicroseconds({took.end() - tenth, took.end()});
        std::printf("%d actions; processor time per press (10th percentile): first tenth %.1f us, "
                    "last tenth %.1f us\n",
            actions, firstTenth, lastTenth);
        std::printf(
            "processor time per press, last tenth / first tenth: %.2f\n", lastTenth / firstTenth);
    }
    checker.Finish(2 * sent);

    CHECK_MESSAGE(failure.empty(), failure);
    CHECK(checker.firstMismatch() == -1);
    CHECK(checker.received() == 2 * sent);
    CHECK(descriptorsAtEnd == descriptorsSettled);
    // Every block costs at least 24 usable bytes, so a program that keeps even one byte a press
    // grows by more than a byte a press.
    const std::size_t pressesSinceSettled = sent - settled;
    CHECK_MESSAGE(heapAtEnd <= heapSettled + pressesSinceSettled, "the heap in use grew");
}
