#include "serial/posix/port_sharing.h"

#include "runtime/message_text.h"
#include "runtime/readings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ostrim {
namespace {

namespace fs = std::filesystem;

// Lock files are a line or a few; anything longer is not one we can read.
constexpr std::size_t lockFileReadLimit = 4096;

// A lock file's pid ends at the end of its line, so LF is no blank here.
std::string_view SkipBlanks(std::string_view text)
{
    return text.substr(std::min(text.find_first_not_of(" \t\r"), text.size()));
}

std::optional<int> AsciiPid(std::string_view text)
{
    text = SkipBlanks(text);
    int pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc())
        return std::nullopt;
    // What follows the number ends its line; Qt's form carries further lines after it.
    const std::string_view rest = SkipBlanks(text.substr(end - text.data()));
    if (!rest.empty() && rest.front() != '\n')
        return std::nullopt;
    return pid;
}

std::optional<int> BinaryPid(std::string_view text)
{
    if (text.size() != sizeof(int))
        return std::nullopt;
    int pid = 0;
    std::memcpy(&pid, text.data(), sizeof pid);
    return pid;
}

// Opens without following the caller into a FIFO or a device that someone named like a lock
// file, and without moving its access time where the system lets us.
std::optional<std::string> ReadLockFile(const fs::path &path)
{
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int handle = ::open(path.c_str(), flags | O_NOATIME);
    if (handle < 0 && errno == EPERM)
        handle = ::open(path.c_str(), flags);
    if (handle < 0)
        return std::nullopt;
    std::optional<std::string> contents;
    struct stat info = {};
    if (::fstat(handle, &info) == 0 && S_ISREG(info.st_mode)) {
        std::array<char, lockFileReadLimit> buffer {};
        const ssize_t got = ::read(handle, buffer.data(), buffer.size());
        if (got >= 0)
            contents.emplace(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(handle);
    return contents;
}

bool IsLink(const std::string &path)
{
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::vector<std::string> LockFileNamesOf(const std::string &devicePath, bool pathIsLink)
{
    std::vector<std::string> names {LockFileName(devicePath)};
    // Only a link leads to a node of another name; resolving every part of every path would cost
    // a readlink(2) a part, each press.
    if (!pathIsLink)
        return names;
    std::error_code error;
    const fs::path node = fs::canonical(devicePath, error);
    if (!error) {
        std::string nodeName = LockFileName(node.string());
        if (nodeName != names.front())
            names.push_back(std::move(nodeName));
    }
    return names;
}

std::optional<int> NumericName(const fs::path &path)
{
    const std::optional<int> number = WholeNumber<int>(path.filename().string());
    return number && *number > 0 ? number : std::nullopt;
}

// Whether a process with this pid exists, including one we may not signal. Never true for pids
// <= 0, which kill() would take for process groups.
bool IsRunning(int pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool IsOtherProcess(int pid)
{
    return pid > 0 && pid != ::getpid();
}

// One line of <proc>/locks, e.g. "2: FLOCK  ADVISORY  WRITE 4242 00:1a:77 0 EOF".
struct LockLine
{
    bool waiter = false;
    std::string kind;
    int pid = 0;
    unsigned deviceMajor = 0;
    unsigned deviceMinor = 0;
    unsigned long long inode = 0;
};

// The file field is "major:minor:inode", the device numbers in hex, the inode in decimal.
bool ParseFileField(std::string_view field, LockLine &line)
{
    const char *at = field.data();
    const char *end = field.data() + field.size();
    auto parsed = std::from_chars(at, end, line.deviceMajor, 16);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != ':')
        return false;
    parsed = std::from_chars(parsed.ptr + 1, end, line.deviceMinor, 16);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != ':')
        return false;
    parsed = std::from_chars(parsed.ptr + 1, end, line.inode, 10);
    return parsed.ec == std::errc() && parsed.ptr == end;
}

std::optional<LockLine> ParseLockLine(const std::string &text)
{
    std::istringstream words(text);
    std::string id;
    std::string word;
    if (!(words >> id >> word))
        return std::nullopt;
    LockLine line;
    if (word == "->") {
        line.waiter = true;
        if (!(words >> word))
            return std::nullopt;
    }
    line.kind = word;
    std::string mode;
    std::string access;
    std::string file;
    if (!(words >> mode >> access >> line.pid >> file) || !ParseFileField(file, line))
        return std::nullopt;
    return line;
}

} // namespace

std::string LockFileName(const std::string &devicePath)
{
    constexpr std::string_view devPrefix = "/dev/";
    std::string name;
    if (devicePath.starts_with(devPrefix)) {
        name = devicePath.substr(devPrefix.size());
        std::replace(name.begin(), name.end(), '/', '_');
    } else {
        name = fs::path(devicePath).filename().string();
    }
    return "LCK.." + name;
}

std::vector<fs::path> DistinctDirectories(const std::vector<fs::path> &directories)
{
    std::set<std::pair<dev_t, ino_t>> seen;
    std::vector<fs::path> distinct;
    for (const fs::path &directory : directories) {
        struct stat info = {};
        if (::stat(directory.c_str(), &info) != 0 || seen.insert({info.st_dev, info.st_ino}).second)
            distinct.push_back(directory);
    }
    return distinct;
}

std::vector<fs::path> LockFilesOf(
    const std::string &devicePath, const SharingPlaces &places, std::optional<bool> pathIsLink)
{
    const std::vector<std::string> names
        = LockFileNamesOf(devicePath, pathIsLink ? *pathIsLink : IsLink(devicePath));
    // A file reached twice, as through /var/lock being a link to /run/lock, is the same file.
    std::set<std::pair<dev_t, ino_t>> filesFound;
    std::vector<fs::path> files;
    for (const fs::path &directory : places.lockDirectories) {
        for (const std::string &name : names) {
            // A plain string: a path splits itself into parts, which a press pays for on every
            // lookup while almost none finds a file.
            const std::string file = directory.native() + '/' + name;
            struct stat info = {};
            if (::lstat(file.c_str(), &info) == 0
                && filesFound.insert({info.st_dev, info.st_ino}).second)
                files.emplace_back(file);
        }
    }
    return files;
}

std::optional<int> PidInLockFile(std::string_view contents)
{
    if (const std::optional<int> pid = AsciiPid(contents))
        return pid;
    return BinaryPid(contents);
}

std::optional<int> LockFileOwner(
    const std::string &devicePath, const SharingPlaces &places, std::optional<bool> pathIsLink)
{
    for (const fs::path &file : LockFilesOf(devicePath, places, pathIsLink)) {
        const std::optional<std::string> contents = ReadLockFile(file);
        if (!contents)
            continue;
        const std::optional<int> pid = PidInLockFile(*contents);
        if (pid && IsOtherProcess(*pid) && IsRunning(*pid))
            return pid;
    }
    return std::nullopt;
}

std::optional<int> FlockOwner(dev_t device, ino_t inode, const SharingPlaces &places)
{
    std::ifstream locks(places.proc / "locks");
    std::string text;
    while (std::getline(locks, text)) {
        const std::optional<LockLine> line = ParseLockLine(text);
        if (!line || line->waiter || line->kind != "FLOCK")
            continue;
        if (line->deviceMajor != major(device) || line->deviceMinor != minor(device)
            || line->inode != inode)
            continue;
        // A lock outlives its taker when a child inherited the descriptor; a pid that is gone
        // would name no one, or someone else once reused.
        std::error_code error;
        if (IsOtherProcess(line->pid)
            && fs::is_directory(places.proc / std::to_string(line->pid), error))
            return line->pid;
    }
    return std::nullopt;
}

std::optional<int> OpenerOf(const std::string &devicePath, const SharingPlaces &places)
{
    struct stat wanted = {};
    if (::stat(devicePath.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return std::nullopt;
    // Every devpts instance (a container's, a sandbox's) numbers its terminals from 0 under the
    // same device numbers, so a pseudo-terminal is told apart by the instance that holds it too.
    struct statfs system = {};
    const bool onDevpts
        = ::statfs(devicePath.c_str(), &system) == 0 && system.f_type == DEVPTS_SUPER_MAGIC;
    std::error_code error;
    const auto options = fs::directory_options::skip_permission_denied;
    for (auto process = fs::directory_iterator(places.proc, options, error);
         !error && process != fs::directory_iterator(); process.increment(error)) {
        const std::optional<int> pid = NumericName(process->path());
        if (!pid || !IsOtherProcess(*pid))
            continue;
        // Processes come and go while we look; whatever cannot be read is passed over.
        std::error_code fdError;
        for (auto fd = fs::directory_iterator(process->path() / "fd", options, fdError);
             !fdError && fd != fs::directory_iterator(); fd.increment(fdError)) {
            struct stat target = {};
            if (::stat(fd->path().c_str(), &target) == 0 && S_ISCHR(target.st_mode)
                && target.st_rdev == wanted.st_rdev
                && (!onDevpts || target.st_dev == wanted.st_dev))
                return pid;
        }
    }
    return std::nullopt;
}

std::string ProcessName(int pid, const SharingPlaces &places)
{
    if (pid <= 0)
        return {};
    std::ifstream comm(places.proc / std::to_string(pid) / "comm");
    std::string name;
    std::getline(comm, name);
    return Printable(name);
}

std::string InUseBy(std::optional<int> pid, const SharingPlaces &places)
{
    if (!pid || *pid <= 0)
        return "in use by another program";
    const std::string process = "process " + std::to_string(*pid);
    const std::string name = ProcessName(*pid, places);
    if (name.empty())
        return "in use by " + process;
    return "in use by " + name + " (" + process + ")";
}

} // namespace ostrim
