#include "in_child.h"
#include "pseudo_terminal.h"
#include "serial/posix/port_sharing.h"
#include "temporary_folder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include <doctest.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrim;
namespace fs = std::filesystem;

namespace {

constexpr const char *holderName = "porthog";

// A row whose outcome is a text: a pid, "none", a phrase.
struct TextRow
{
    std::string_view name;
    std::string input;
    std::string outcome;
};

// A child process that takes hold of something and keeps it until the test ends. It keeps none of
// the test's descriptors, so what it holds is only what `take` opened.
class Holder
{
public:
    explicit Holder(const std::function<bool()> &take = [] { return true; })
    {
        int ready[2] = {-1, -1};
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(ready[1], 3);
            ::close_range(4, ~0U, 0);
            ::prctl(PR_SET_NAME, holderName);
            if (take() && ::write(3, "r", 1) == 1)
                for (;;)
                    ::pause();
            ::_exit(1);
        }
        ::close(ready[1]);
        char signal = 0;
        m_ready = m_pid > 0 && ::read(ready[0], &signal, 1) == 1;
        ::close(ready[0]);
    }
    ~Holder()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;

    int pid() const { return m_ready ? m_pid : -1; }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

// A pid that was in use a moment ago and is no longer: a child that has exited and been reaped.
int ReapedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::function<bool()> Opens(const std::string &path, int lock = 0)
{
    return [path, lock] {
        const int handle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return handle >= 0 && (lock == 0 || ::flock(handle, lock) == 0);
    };
}

// Mounts, in a mount namespace of its own (as a container or a sandbox has), a devpts instance of
// its own at the mount point; why it cannot, else empty. In a chroot whose / is not a mount point
// (as Debian's package builders make), / cannot be made private.
std::string OwnDevptsAt(const std::string &mountPoint)
{
    const char *failed = ::unshare(CLONE_NEWNS) != 0 ? "a mount namespace of its own"
        : ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ? "making / private"
        : ::mount("devpts", mountPoint.c_str(), "devpts", 0, "newinstance,ptmxmode=0666") != 0
        ? "mounting devpts"
        : nullptr;
    return failed ? std::string(failed) + ": " + std::strerror(errno) : "";
}

// Opens, in a devpts instance of its own, the terminal that has the same number there as the given
// one has here: same device number, another terminal.
std::function<bool()> OpensTwinIn(const std::string &path, const std::string &mountPoint)
{
    return [path, mountPoint] {
        const std::string number = path.substr(path.rfind('/') + 1);
        if (!OwnDevptsAt(mountPoint).empty())
            return false;
        const std::string multiplexer = mountPoint + "/ptmx";
        for (int opened = 0; opened < 1000; ++opened) {
            const int master = ::open(multiplexer.c_str(), O_RDWR | O_NOCTTY);
            int index = -1;
            if (master < 0 || ::ioctl(master, TIOCGPTN, &index) != 0)
                return false;
            if (std::to_string(index) == number) {
                int unlock = 0;
                ::ioctl(master, TIOCSPTLCK, &unlock);
                return Opens(mountPoint + "/" + number)();
            }
        }
        return false;
    };
}

std::string Ascii10(int pid)
{
    char text[16] = {};
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

std::string QtLines(int pid)
{
    return std::to_string(pid) + "\nsomeprogram\nsomehost\n";
}

std::string Binary(int pid)
{
    return std::string(reinterpret_cast<const char *>(&pid), sizeof pid);
}

std::string Shown(std::optional<int> pid)
{
    return pid ? std::to_string(*pid) : "none";
}

bool WriteFile(const fs::path &path, const std::string &contents)
{
    std::ofstream file(path, std::ios::binary);
    return static_cast<bool>(file << contents);
}

// What a read-only check must leave as it was: the names in the folder, and each file's contents
// and modification time to the nanosecond.
std::map<std::string, std::string> FolderState(const fs::path &folder)
{
    std::map<std::string, std::string> state;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        struct stat info = {};
        ::lstat(entry.path().c_str(), &info);
        std::ifstream file(entry.path(), std::ios::binary);
        state[entry.path().filename()] = std::to_string(info.st_mtim.tv_sec) + '.'
            + std::to_string(info.st_mtim.tv_nsec) + ' '
            + std::string(std::istreambuf_iterator<char>(file), {});
    }
    return state;
}

// What most cases look at: a live process that holds nothing, a pid that no process has, and a
// terminal with a link to it.
struct Scene
{
    Scene()
    {
        REQUIRE(live > 0);
        fs::create_symlink(board.devicePath(), link);
    }

    Holder sleeper;
    const int live = sleeper.pid();
    const int reaped = ReapedPid();
    PseudoTerminal board;
    TemporaryFolder links;
    const fs::path link = links.path() / "port";
};

} // namespace

TEST_CASE("The pid in a lock file is read in every form in use, and nothing from garbage")
{
    const TextRow rows[] {
        {"ASCII with leading blanks", Ascii10(4242), "4242"},
        {"ASCII, no blanks, no newline", "4242", "4242"},
        {"Qt's lines", QtLines(4242), "4242"},
        {"binary", Binary(4242), "4242"},
        {"binary -1", Binary(-1), "-1"},
        {"four bytes of text stay text", "123\n", "123"},
        {"ASCII -1", "        -1\n", "-1"},
        {"empty", "", "none"},
        {"blanks only", "          \n", "none"},
        {"garbage", "not a pid\n", "none"},
        {"number then garbage", "42abc\n", "none"},
        {"two numbers on the line", "42 43\n", "none"},
        {"beyond an int", "99999999999\n", "none"},
    };
    for (const TextRow &row : rows) {
        INFO(row.name);
        CHECK(Shown(PidInLockFile(row.input)) == row.outcome);
    }
}

TEST_CASE_FIXTURE(Scene,
    "A lock file blocks only when it names a live process other than ours, "
    "and is left as it was")
{
    const std::string pts = board.devicePath();
    const std::string ptsLock = "LCK..pts_" + pts.substr(pts.rfind('/') + 1);
    const std::string usb = "/dev/ttyUSB0";
    const std::string usbLock = "LCK..ttyUSB0";
    struct Row
    {
        std::string_view name;
        std::string devicePath;
        std::string lockName;
        std::string contents;
        bool blocks;
    };
    const Row rows[] {
        {"pty, ASCII, live", pts, ptsLock, Ascii10(live), true},
        {"pty, Qt lines, live", pts, ptsLock, QtLines(live), true},
        {"pty, binary, live", pts, ptsLock, Binary(live), true},
        {"ttyUSB0, ASCII, live", usb, usbLock, Ascii10(live), true},
        {"ttyUSB0, Qt lines, live", usb, usbLock, QtLines(live), true},
        {"ttyUSB0, binary, live", usb, usbLock, Binary(live), true},
        {"link to the pty, lock of the pty", link, ptsLock, Ascii10(live), true},
        {"link to the pty, lock of the link", link, "LCK..port", Ascii10(live), true},
        {"another device's lock", pts, usbLock, Ascii10(live), false},
        {"ASCII, stale", usb, usbLock, Ascii10(reaped), false},
        {"Qt lines, stale", usb, usbLock, QtLines(reaped), false},
        {"binary, stale", usb, usbLock, Binary(reaped), false},
        {"ASCII, pid 0", usb, usbLock, Ascii10(0), false},
        {"ASCII, pid -1", usb, usbLock, Ascii10(-1), false},
        {"binary, pid 0", usb, usbLock, Binary(0), false},
        {"binary, pid -1", usb, usbLock, Binary(-1), false},
        {"our own pid", pts, ptsLock, Ascii10(::getpid()), false},
        {"garbage", usb, usbLock, "locked!\n", false},
        {"empty file", usb, usbLock, "", false},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const TemporaryFolder locks;
        REQUIRE(WriteFile(locks.path() / row.lockName, row.contents));
        const auto before = FolderState(locks.path());

        const std::optional<int> owner = LockFileOwner(row.devicePath, {{locks.path()}});

        CHECK(Shown(owner) == (row.blocks ? std::to_string(live) : "none"));
        CHECK(FolderState(locks.path()) == before);
    }
}

// Reading a terminal as if it were a lock file would take bytes meant for the program on it.
TEST_CASE_FIXTURE(Scene, "A lock file that is no file does not block")
{
    for (const std::string_view row :
        {"a folder", "a FIFO", "a link to a terminal with a live pid in its input"}) {
        INFO(row);
        const TemporaryFolder locks;
        const fs::path lock = locks.path() / "LCK..ttyUSB0";
        const PseudoTerminal other;
        if (row == "a folder") {
            REQUIRE(::mkdir(lock.c_str(), 0755) == 0);
        } else if (row == "a FIFO") {
            REQUIRE(::mkfifo(lock.c_str(), 0644) == 0);
        } else {
            const std::string pid = Ascii10(live);
            REQUIRE(::write(other.masterHandle(), pid.data(), pid.size())
                == static_cast<ssize_t>(pid.size()));
            fs::create_symlink(other.devicePath(), lock);
        }
        CHECK(Shown(LockFileOwner("/dev/ttyUSB0", {{locks.path()}})) == "none");
    }
}

TEST_CASE_FIXTURE(Scene, "A lock folder reached twice is read once")
{
    // How the second folder named is reached, and how many lock files are found: also the folders
    // a line goes on to look in.
    const TextRow rows[] {
        {"the same folder through a link", "link", "1"},
        {"the same folder named twice", "same", "1"},
        {"two folders, each with a lock", "other", "2"},
    };
    for (const TextRow &row : rows) {
        INFO(row.name);
        const TemporaryFolder first;
        const TemporaryFolder second;
        REQUIRE(WriteFile(first.path() / "LCK..ttyUSB0", Ascii10(live)));
        REQUIRE(WriteFile(second.path() / "LCK..ttyUSB0", Ascii10(live)));
        fs::path other = row.input == "other" ? second.path() : first.path();
        if (row.input == "link") {
            other = second.path() / "link";
            fs::create_directory_symlink(first.path(), other);
        }
        const SharingPlaces places {{first.path(), other}};
        CHECK(std::to_string(LockFilesOf("/dev/ttyUSB0", places).size()) == row.outcome);
        CHECK(Shown(LockFileOwner("/dev/ttyUSB0", places)) == std::to_string(live));
        CHECK(std::to_string(DistinctDirectories(places.lockDirectories).size()) == row.outcome);
    }
}

// A lock folder that is not there when a line is made may be made later, and must be looked in.
TEST_CASE_FIXTURE(Scene, "A lock folder missing at first is kept")
{
    const TemporaryFolder base;
    const fs::path later = base.path() / "later";
    const SharingPlaces places {DistinctDirectories({later, base.path()})};
    CHECK(places.lockDirectories.size() == 2);
    REQUIRE(fs::create_directory(later));
    REQUIRE(WriteFile(later / "LCK..ttyUSB0", Ascii10(live)));
    CHECK(Shown(LockFileOwner("/dev/ttyUSB0", places)) == std::to_string(live));
}

// kill(pid, 0) fails with EPERM for a process that runs under another user: it is alive. As root
// every process may be signalled, so a child gives root up and looks at a lock of ours.
TEST_CASE("The lock of a process we may not signal blocks")
{
    const bool root = ::geteuid() == 0;
    if (!root && (::kill(1, 0) == 0 || errno != EPERM)) {
        MESSAGE("skipped: needs root, or a pid 1 we may not signal");
        return;
    }
    const TemporaryFolder locks;
    fs::permissions(
        locks.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const int holder = root ? ::getpid() : 1;
    REQUIRE(WriteFile(locks.path() / "LCK..ttyUSB0", Ascii10(holder)));
    const auto look = [&] { return Shown(LockFileOwner("/dev/ttyUSB0", {{locks.path()}})); };

    const std::string seen = !root ? look() : InChild([&] {
        const bool droppedRoot
            = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        return droppedRoot ? look() : "root kept";
    });

    CHECK(seen == std::to_string(holder));
}

// The file asked about: device 259:26, written 103:1a, inode 77. Processes 4242, 5151 and this one
// (SELF) run; 6161 does not.
TEST_CASE("The holder of a flock is read from the kernel's lock list")
{
    const TextRow rows[] {
        {"a holder", "1: FLOCK  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n", "4242"},
        {"a shared holder", "1: FLOCK  ADVISORY  READ  4242 103:1a:77 0 EOF\n", "4242"},
        {"waiters hold nothing",
            "1: FLOCK  ADVISORY  WRITE SELF 103:1a:77 0 EOF\n"
            "1: -> FLOCK  ADVISORY  WRITE 5151 103:1a:77 0 EOF\n"
            "1:  -> FLOCK  ADVISORY  WRITE 5151 103:1a:77 0 EOF\n",
            "none"},
        {"the other of two holders",
            "1: FLOCK  ADVISORY  READ  SELF 103:1a:77 0 EOF\n"
            "2: FLOCK  ADVISORY  READ  4242 103:1a:77 0 EOF\n",
            "4242"},
        {"after other files, locks and lines",
            "1: POSIX  ADVISORY  WRITE 5151 103:1a:78 0 EOF\n"
            "\n"
            "garbled\n"
            "2: FLOCK  ADVISORY  WRITE 5151 103:1a:770 0 EOF\n"
            "3: FLOCK  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n",
            "4242"},
        {"a POSIX lock is no flock", "1: POSIX  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n", "none"},
        {"an OFD lock, pid -1", "1: OFDLCK ADVISORY  WRITE -1 103:1a:77 0 EOF\n", "none"},
        {"pid 0, taker outside our namespace", "1: FLOCK  ADVISORY  WRITE 0 103:1a:77 0 EOF\n",
            "none"},
        {"the same inode on another device", "1: FLOCK  ADVISORY  WRITE 4242 103:1b:77 0 EOF\n",
            "none"},
        {"numbers are hex: 26 is not 0x26", "1: FLOCK  ADVISORY  WRITE 4242 103:26:77 0 EOF\n",
            "none"},
        {"a taker no longer running", "1: FLOCK  ADVISORY  WRITE 6161 103:1a:77 0 EOF\n", "none"},
        {"this process", "1: FLOCK  ADVISORY  WRITE SELF 103:1a:77 0 EOF\n", "none"},
        {"no locks", "", "none"},
    };
    const std::string self = std::to_string(::getpid());
    for (const TextRow &row : rows) {
        INFO(row.name);
        const TemporaryFolder proc({"4242", "5151", self});
        std::string locks = row.input;
        if (const std::size_t at = locks.find("SELF"); at != std::string::npos)
            locks.replace(at, 4, self);
        REQUIRE(WriteFile(proc.path() / "locks", locks));
        CHECK(Shown(FlockOwner(makedev(259, 26), 77, {{}, proc.path()})) == row.outcome);
    }
}

TEST_CASE("The holder of a flock on a terminal is found on this system")
{
    for (const std::string_view row : {"a child holds the flock", "this process holds it",
             "a child has it open without a flock"}) {
        INFO(row);
        const bool childLocks = row == "a child holds the flock";
        const PseudoTerminal port;
        const std::string path = port.devicePath();
        std::optional<Holder> child;
        int ourHandle = -1;
        if (row == "this process holds it") {
            ourHandle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            REQUIRE(::flock(ourHandle, LOCK_EX | LOCK_NB) == 0);
        } else {
            child.emplace(Opens(path, childLocks ? LOCK_EX | LOCK_NB : 0));
            REQUIRE(child->pid() > 0);
        }
        struct stat info = {};
        REQUIRE(::stat(path.c_str(), &info) == 0);

        const std::optional<int> owner = FlockOwner(info.st_dev, info.st_ino);

        if (ourHandle >= 0)
            ::close(ourHandle);
        CHECK(Shown(owner) == (childLocks ? std::to_string(child->pid()) : "none"));
        if (childLocks)
            CHECK(ProcessName(owner.value_or(0)) == holderName);
    }
}

// Process 5151 has a descriptor that leads nowhere.
TEST_CASE_FIXTURE(Scene, "The opener of a device is found by the descriptors in the proc folders")
{
    const std::string pts = board.devicePath();
    const fs::path fileA = links.path() / "a";
    const fs::path fileB = links.path() / "b";
    REQUIRE(WriteFile(fileA, "a"));
    REQUIRE(WriteFile(fileB, "b"));
    struct Row
    {
        std::string_view name;
        std::string process;
        fs::path target;
        std::string asked;
        std::string opener;
    };
    const Row rows[] {
        {"a link to the device", "4242", pts, pts, "4242"},
        {"another device", "4242", "/dev/null", pts, "none"},
        {"not a process folder", "self", pts, pts, "none"},
        {"this process", std::to_string(::getpid()), pts, pts, "none"},
        {"regular files share no device number", "4242", fileA, fileB, "none"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const TemporaryFolder proc({row.process + "/fd", "5151/fd"});
        fs::create_symlink(proc.path() / "nowhere", proc.path() / "5151/fd/3");
        fs::create_symlink(row.target, proc.path() / row.process / "fd/3");
        CHECK(Shown(OpenerOf(row.asked, {{}, proc.path()})) == row.opener);
    }
}

TEST_CASE("The opener of a terminal is found on this system, whatever path reaches it")
{
    // The path asked about, and who is found: a child that has the terminal open, or none.
    const TextRow rows[] {
        {"the device by its path", "path", "child"},
        {"the device through a link", "link", "child"},
        {"another node of the same device", "node", "child"},
        {"only we have it open", "path", "none"},
        {"a terminal of the same number in another devpts instance: not it", "twin", "none"},
    };
    for (const TextRow &row : rows) {
        INFO(row.name);
        const PseudoTerminal port;
        const TemporaryFolder nodes;
        std::string asked = port.devicePath();
        if (row.input == "link") {
            asked = nodes.path() / "link";
            fs::create_symlink(port.devicePath(), asked);
        } else if (row.input == "node") {
            struct stat info = {};
            REQUIRE(::stat(port.devicePath().c_str(), &info) == 0);
            asked = nodes.path() / "node";
            if (::mknod(asked.c_str(), S_IFCHR | 0600, info.st_rdev) != 0) {
                MESSAGE("skipped: may not make device nodes here");
                continue;
            }
            // A node outside devpts names a terminal by its number alone, and each devpts instance
            // (a container's, a Wine test's sandbox) numbers its own: before our child opens it,
            // any opener has that number open in another instance.
            if (const std::optional<int> elsewhere = OpenerOf(asked)) {
                MESSAGE("skipped: process " << *elsewhere << " has a terminal of the same number"
                                            << " open in another devpts instance");
                continue;
            }
        }
        std::optional<Holder> child;
        if (row.outcome == "child") {
            child.emplace(Opens(port.devicePath()));
            REQUIRE(child->pid() > 0);
        }
        std::optional<Holder> twin;
        if (row.input == "twin") {
            const std::string refusal = InChild([&] { return OwnDevptsAt(nodes.path()); });
            if (!refusal.empty()) {
                MESSAGE("skipped: cannot make a devpts instance of its own here: " << refusal);
                continue;
            }
            twin.emplace(OpensTwinIn(port.devicePath(), nodes.path()));
            REQUIRE(twin->pid() > 0);
        }

        const std::optional<int> opener = OpenerOf(asked);

        CHECK(Shown(opener) == (child ? std::to_string(child->pid()) : "none"));
        if (opener)
            CHECK(InUseBy(opener)
                == "in use by " + std::string(holderName) + " (process " + Shown(opener) + ")");
    }
}

// Process 4242's name is the row's; no name is no comm file at all.
TEST_CASE("The in-use phrase names the holder as far as it is known, and safely")
{
    struct Row
    {
        std::string_view name;
        std::optional<int> pid;
        std::string comm;
        std::string phrase;
    };
    const Row rows[] {
        {"name and pid", 4242, "porthog\n", "in use by porthog (process 4242)"},
        {"pid without a name", 4242, "", "in use by process 4242"},
        {"an empty name", 4242, "\n", "in use by process 4242"},
        {"control characters in the name", 4242, "a\x1b[2J\rb\n",
            "in use by a?[2J?b (process 4242)"},
        {"no holder found", std::nullopt, "", "in use by another program"},
        {"pid 0", 0, "", "in use by another program"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const TemporaryFolder proc({"4242"});
        if (!row.comm.empty())
            REQUIRE(WriteFile(proc.path() / "4242/comm", row.comm));
        CHECK(InUseBy(row.pid, {{}, proc.path()}) == row.phrase);
    }
}
