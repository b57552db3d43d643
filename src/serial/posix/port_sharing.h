#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

// Whether another program holds a serial port, and which one. Everything here only reads: no lock
// file is created, changed or deleted, and nothing is written to disk, so a check costs no more
// than a few small reads and never disturbs the program that holds the port.
namespace ostrim {

// Where the sharing checks look; tests point them at folders of their own.
struct SharingPlaces
{
    std::vector<std::filesystem::path> lockDirectories {"/run/lock", "/var/lock"};
    std::filesystem::path proc {"/proc"};
};

// The UUCP lock file name of a device: the path below /dev with '/' as '_' (/dev/ttyUSB0 ->
// LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3); for a path outside /dev, its last part.
std::string LockFileName(const std::string &devicePath);

// The lock directories less those that lead to a folder named earlier, as /var/lock is often a link
// to /run/lock; one that cannot be looked at now is kept, for it may appear later. Which folders
// are the same is settled when the system is set up, so a line asks this once, not every press.
std::vector<std::filesystem::path> DistinctDirectories(
    const std::vector<std::filesystem::path> &directories);

// The lock files of this device that exist, each once: under the name of the path as given and,
// where the path is a link, under that of the node it leads to, in every lock directory; the same
// file reached twice (as /var/lock is often a link to /run/lock) is counted once.
// A caller that has looked at the path already (lstat) says whether it is a link; else it is
// looked at here.
std::vector<std::filesystem::path> LockFilesOf(const std::string &devicePath,
    const SharingPlaces &places = {}, std::optional<bool> pathIsLink = std::nullopt);

// The pid a lock file names, in any of the forms in use: an ASCII pid with leading blanks
// ("%10d\n"), Qt's "pid\nname\nhost\n" lines, or a 4-byte binary pid (native int). Nothing for
// garbled contents.
std::optional<int> PidInLockFile(std::string_view contents);

// The live process named by a UUCP lock file of this device, if any. A stale lock (dead pid), an
// unreadable or garbled one, pid <= 0 or our own pid does not block. Where there is no lock file
// a call is one lstat in each folder: about 2 µs on disk, 4 µs on tmpfs, which keeps no record of
// names that are not there.
std::optional<int> LockFileOwner(const std::string &devicePath, const SharingPlaces &places = {},
    std::optional<bool> pathIsLink = std::nullopt);

// Another process holding a flock on the file with this st_dev/st_ino, from <proc>/locks. Waiters
// hold nothing and are skipped, as is a taker that is no longer running.
std::optional<int> FlockOwner(dev_t device, ino_t inode, const SharingPlaces &places = {});

// Another process with this character device open, from <proc>/<pid>/fd/*, compared by device
// number, so a link to the node or another node of the same device is recognised. It looks at
// every descriptor of every process (about 2 ms with 85 processes), so it is for a failed open
// only.
std::optional<int> OpenerOf(const std::string &devicePath, const SharingPlaces &places = {});

// The process's name from <proc>/<pid>/comm, empty when unknown; printable, since any process may
// name itself anything and the name goes into a message.
std::string ProcessName(int pid, const SharingPlaces &places = {});

// The phrase the in-use message is built from: "in use by <name> (process 4242)" when the holder
// is known, "in use by process 4242" when only its pid is, else "in use by another program".
std::string InUseBy(std::optional<int> pid, const SharingPlaces &places = {});

} // namespace ostrim
