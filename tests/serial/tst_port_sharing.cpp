#include "in_child.h"
#include "pseudo_terminal.h"
#include "serial/posix/port_sharing.h"

#include <cstring>
#include <functional>
#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

namespace {

constexpr const char *holderName = "porthog";

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
        if (m_pid == 0)
            RunChild(ready[1], take);
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
    [[noreturn]] static void RunChild(int ready, const std::function<bool()> &take)
    {
        ::dup2(ready, 3);
        ::close_range(4, ~0U, 0);
        ::prctl(PR_SET_NAME, holderName);
        if (!take() || ::write(3, "r", 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }

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

// Opens, in a devpts instance of its own (as a container or a sandbox has), the terminal that
// has the same number there as the given one has here: same device number, another terminal.
std::function<bool()> OpensTwinIn(const std::string &path, const std::string &mountPoint)
{
    return [path, mountPoint] {
        const std::string number = path.substr(path.rfind('/') + 1);
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("devpts", mountPoint.c_str(), "devpts", 0, "newinstance,ptmxmode=0666") != 0)
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

// Why this process cannot make a devpts instance of its own at the mount point, tried in a child;
// empty when it can. In a chroot whose / is not a mount point (as Debian's package builders make),
// / cannot be made private.
std::string DevptsInstanceRefusal(const std::string &mountPoint)
{
    return InChild([&]() -> std::string {
        const char *failed = ::unshare(CLONE_NEWNS) != 0 ? "a mount namespace of its own"
            : ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ? "making / private"
            : ::mount("devpts", mountPoint.c_str(), "devpts", 0, "newinstance") != 0
            ? "mounting devpts"
            : nullptr;
        return failed ? std::string(failed) + ": " + std::strerror(errno) : "";
    });
}

QByteArray Ascii10(int pid)
{
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

QByteArray QtLines(int pid)
{
    return QByteArray::number(pid) + "\nsomeprogram\nsomehost\n";
}

QByteArray Binary(int pid)
{
    return QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid);
}

QString Shown(std::optional<int> pid)
{
    return pid ? QString::number(*pid) : QStringLiteral("none");
}

bool WriteFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// What a read-only check must leave as it was: the names in the folder, and each file's contents
// and modification time to the nanosecond.
QStringList FolderState(const QString &path)
{
    QStringList state;
    const QDir folder(path);
    for (const QString &name :
        folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        struct stat info = {};
        const QByteArray file = folder.filePath(name).toLocal8Bit();
        ::lstat(file.constData(), &info);
        QFile contents(folder.filePath(name));
        contents.open(QIODevice::ReadOnly);
        state << name + ' ' + QString::number(info.st_mtim.tv_sec) + '.'
                + QString::number(info.st_mtim.tv_nsec) + ' ' + contents.readAll().toHex();
    }
    return state;
}

std::string PtsLockName(const std::string &devicePath)
{
    return "LCK..pts_" + devicePath.substr(devicePath.find_last_of('/') + 1);
}

} // namespace

class TestPortSharing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void pidInLockFile_data();
    void pidInLockFile();
    void lockFileOwner_data();
    void lockFileOwner();
    void lockFilesThatAreNoFilesDoNotBlock_data();
    void lockFilesThatAreNoFilesDoNotBlock();
    void sameFolderIsReadOnce_data();
    void sameFolderIsReadOnce();
    void folderMissingAtFirstIsKept();
    void lockOfProcessWeMayNotSignalBlocks();
    void flockOwnerFromLocksText_data();
    void flockOwnerFromLocksText();
    void flockOwnerFromTheSystem_data();
    void flockOwnerFromTheSystem();
    void openerOfFromProcFolders_data();
    void openerOfFromProcFolders();
    void openerOfFromTheSystem_data();
    void openerOfFromTheSystem();
    void inUseBy_data();
    void inUseBy();

private:
    std::unique_ptr<Holder> m_sleeper;
    std::unique_ptr<PseudoTerminal> m_board;
    QTemporaryDir m_links;
    int m_reaped = 0;
};

void TestPortSharing::initTestCase()
{
    m_sleeper = std::make_unique<Holder>();
    QVERIFY(m_sleeper->pid() > 0);
    m_reaped = ReapedPid();
    m_board = std::make_unique<PseudoTerminal>();
    QVERIFY(m_links.isValid());
    QVERIFY(QFile::link(QString::fromStdString(m_board->devicePath()), m_links.filePath("port")));
}

void TestPortSharing::pidInLockFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("pid");
    QTest::newRow("ASCII with leading blanks") << Ascii10(4242) << "4242";
    QTest::newRow("ASCII, no blanks, no newline") << QByteArray("4242") << "4242";
    QTest::newRow("Qt's lines") << QtLines(4242) << "4242";
    QTest::newRow("binary") << Binary(4242) << "4242";
    QTest::newRow("binary -1") << Binary(-1) << "-1";
    QTest::newRow("four bytes of text stay text") << QByteArray("123\n") << "123";
    QTest::newRow("ASCII -1") << QByteArray("        -1\n") << "-1";
    QTest::newRow("empty") << QByteArray() << "none";
    QTest::newRow("blanks only") << QByteArray("          \n") << "none";
    QTest::newRow("garbage") << QByteArray("not a pid\n") << "none";
    QTest::newRow("number then garbage") << QByteArray("42abc\n") << "none";
    QTest::newRow("two numbers on the line") << QByteArray("42 43\n") << "none";
    QTest::newRow("beyond an int") << QByteArray("99999999999\n") << "none";
}

void TestPortSharing::pidInLockFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, pid);
    QCOMPARE(Shown(PidInLockFile(std::string_view(contents.constData(), contents.size()))), pid);
}

void TestPortSharing::lockFileOwner_data()
{
    QTest::addColumn<QString>("devicePath");
    QTest::addColumn<QString>("lockName");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("blocks");

    const QString pts = QString::fromStdString(m_board->devicePath());
    const QString ptsLock = QString::fromStdString(PtsLockName(m_board->devicePath()));
    const QString link = m_links.filePath("port");
    const QString usb = "/dev/ttyUSB0";
    const QString usbLock = "LCK..ttyUSB0";
    const int live = m_sleeper->pid();

    QTest::newRow("pty, ASCII, live") << pts << ptsLock << Ascii10(live) << true;
    QTest::newRow("pty, Qt lines, live") << pts << ptsLock << QtLines(live) << true;
    QTest::newRow("pty, binary, live") << pts << ptsLock << Binary(live) << true;
    QTest::newRow("ttyUSB0, ASCII, live") << usb << usbLock << Ascii10(live) << true;
    QTest::newRow("ttyUSB0, Qt lines, live") << usb << usbLock << QtLines(live) << true;
    QTest::newRow("ttyUSB0, binary, live") << usb << usbLock << Binary(live) << true;
    QTest::newRow("link to the pty, lock of the pty") << link << ptsLock << Ascii10(live) << true;
    QTest::newRow("link to the pty, lock of the link")
        << link << "LCK..port" << Ascii10(live) << true;
    QTest::newRow("another device's lock") << pts << usbLock << Ascii10(live) << false;
    QTest::newRow("ASCII, stale") << usb << usbLock << Ascii10(m_reaped) << false;
    QTest::newRow("Qt lines, stale") << usb << usbLock << QtLines(m_reaped) << false;
    QTest::newRow("binary, stale") << usb << usbLock << Binary(m_reaped) << false;
    QTest::newRow("ASCII, pid 0") << usb << usbLock << Ascii10(0) << false;
    QTest::newRow("ASCII, pid -1") << usb << usbLock << Ascii10(-1) << false;
    QTest::newRow("binary, pid 0") << usb << usbLock << Binary(0) << false;
    QTest::newRow("binary, pid -1") << usb << usbLock << Binary(-1) << false;
    QTest::newRow("our own pid") << pts << ptsLock << Ascii10(::getpid()) << false;
    QTest::newRow("garbage") << usb << usbLock << QByteArray("locked!\n") << false;
    QTest::newRow("empty file") << usb << usbLock << QByteArray() << false;
}

void TestPortSharing::lockFileOwner()
{
    QFETCH(QString, devicePath);
    QFETCH(QString, lockName);
    QFETCH(QByteArray, contents);
    QFETCH(bool, blocks);
    QTemporaryDir locks;
    QVERIFY(WriteFile(locks.filePath(lockName), contents));
    const QStringList before = FolderState(locks.path());

    const std::optional<int> owner
        = LockFileOwner(devicePath.toStdString(), {{locks.path().toStdString()}});

    QCOMPARE(Shown(owner), blocks ? QString::number(m_sleeper->pid()) : QString("none"));
    QCOMPARE(FolderState(locks.path()), before);
}

void TestPortSharing::lockFilesThatAreNoFilesDoNotBlock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder") << "folder";
    QTest::newRow("a FIFO") << "fifo";
    QTest::newRow("a link to a terminal with a live pid in its input") << "terminal";
}

// Reading a terminal as if it were a lock file would take bytes meant for the program on it.
void TestPortSharing::lockFilesThatAreNoFilesDoNotBlock()
{
    QFETCH(QString, kind);
    QTemporaryDir locks;
    const QByteArray lock = locks.filePath("LCK..ttyUSB0").toLocal8Bit();
    PseudoTerminal other;
    if (kind == "folder") {
        QVERIFY(::mkdir(lock.constData(), 0755) == 0);
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(lock.constData(), 0644) == 0);
    } else {
        const QByteArray pid = Ascii10(m_sleeper->pid());
        QCOMPARE(::write(other.masterHandle(), pid.constData(), pid.size()), pid.size());
        QVERIFY(::symlink(other.devicePath().c_str(), lock.constData()) == 0);
    }
    QCOMPARE(Shown(LockFileOwner("/dev/ttyUSB0", {{locks.path().toStdString()}})), "none");
}

void TestPortSharing::sameFolderIsReadOnce_data()
{
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<bool>("secondFolder");
    QTest::addColumn<int>("lockFiles"); // also the folders a line goes on to look in
    QTest::newRow("the same folder through a link") << true << false << 1;
    QTest::newRow("the same folder named twice") << false << false << 1;
    QTest::newRow("two folders, each with a lock") << false << true << 2;
}

void TestPortSharing::sameFolderIsReadOnce()
{
    QFETCH(bool, throughLink);
    QFETCH(bool, secondFolder);
    QFETCH(int, lockFiles);
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(WriteFile(first.filePath("LCK..ttyUSB0"), Ascii10(m_sleeper->pid())));
    QVERIFY(WriteFile(second.filePath("LCK..ttyUSB0"), Ascii10(m_sleeper->pid())));
    QString other = first.path();
    if (throughLink) {
        other = second.filePath("link");
        QVERIFY(QFile::link(first.path(), other));
    } else if (secondFolder) {
        other = second.path();
    }
    const SharingPlaces places {{first.path().toStdString(), other.toStdString()}};
    QCOMPARE(int(LockFilesOf("/dev/ttyUSB0", places).size()), lockFiles);
    QCOMPARE(Shown(LockFileOwner("/dev/ttyUSB0", places)), QString::number(m_sleeper->pid()));
    QCOMPARE(int(DistinctDirectories(places.lockDirectories).size()), lockFiles);
}

// A lock folder that is not there when a line is made may be made later, and must be looked in.
void TestPortSharing::folderMissingAtFirstIsKept()
{
    QTemporaryDir base;
    const std::filesystem::path existing = base.path().toStdString();
    const std::filesystem::path later = existing / "later";
    const SharingPlaces places {DistinctDirectories({later, existing})};
    QCOMPARE(int(places.lockDirectories.size()), 2);
    QVERIFY(std::filesystem::create_directory(later));
    QVERIFY(WriteFile(QString::fromStdString(later / "LCK..ttyUSB0"), Ascii10(m_sleeper->pid())));
    QCOMPARE(Shown(LockFileOwner("/dev/ttyUSB0", places)), QString::number(m_sleeper->pid()));
}

// kill(pid, 0) fails with EPERM for a process that runs under another user: it is alive.
void TestPortSharing::lockOfProcessWeMayNotSignalBlocks()
{
    QTemporaryDir locks;
    QVERIFY(QFile::setPermissions(locks.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
            | QFile::ExeOther));
    const std::string folder = locks.path().toStdString();
    const std::string device = "/dev/ttyUSB0";
    if (::geteuid() != 0) {
        if (::kill(1, 0) == 0 || errno != EPERM)
            QSKIP("needs root, or a pid 1 we may not signal");
        QVERIFY(WriteFile(locks.filePath("LCK..ttyUSB0"), Ascii10(1)));
        QCOMPARE(Shown(LockFileOwner(device, {{folder}})), "1");
        return;
    }
    // As root every process may be signalled, so a child gives root up and looks at our lock.
    const int self = ::getpid();
    QVERIFY(WriteFile(locks.filePath("LCK..ttyUSB0"), Ascii10(self)));
    const pid_t child = ::fork();
    if (child == 0) {
        const bool droppedRoot
            = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(droppedRoot && LockFileOwner(device, {{folder}}) == self ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

void TestPortSharing::flockOwnerFromLocksText_data()
{
    QTest::addColumn<QByteArray>("locks");
    QTest::addColumn<QString>("owner");
    const QByteArray self = QByteArray::number(::getpid());
    // The file asked about: device 259:26, written 103:1a, inode 77.
    QTest::newRow("a holder") << QByteArray("1: FLOCK  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n")
                              << "4242";
    QTest::newRow("a shared holder")
        << QByteArray("1: FLOCK  ADVISORY  READ  4242 103:1a:77 0 EOF\n") << "4242";
    QTest::newRow("waiters hold nothing") << "1: FLOCK  ADVISORY  WRITE " + self
            + " 103:1a:77 0 EOF\n"
              "1: -> FLOCK  ADVISORY  WRITE 5151 103:1a:77 0 EOF\n"
              "1:  -> FLOCK  ADVISORY  WRITE 5151 103:1a:77 0 EOF\n"
                                          << "none";
    QTest::newRow("the other of two holders") << "1: FLOCK  ADVISORY  READ  " + self
            + " 103:1a:77 0 EOF\n"
              "2: FLOCK  ADVISORY  READ  4242 103:1a:77 0 EOF\n"
                                              << "4242";
    QTest::newRow("after other files, locks and lines")
        << QByteArray("1: POSIX  ADVISORY  WRITE 5151 103:1a:78 0 EOF\n"
                      "\n"
                      "garbled\n"
                      "2: FLOCK  ADVISORY  WRITE 5151 103:1a:770 0 EOF\n"
                      "3: FLOCK  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n")
        << "4242";
    QTest::newRow("a POSIX lock is no flock")
        << QByteArray("1: POSIX  ADVISORY  WRITE 4242 103:1a:77 0 EOF\n") << "none";
    QTest::newRow("an OFD lock, pid -1")
        << QByteArray("1: OFDLCK ADVISORY  WRITE -1 103:1a:77 0 EOF\n") << "none";
    QTest::newRow("pid 0, taker outside our namespace")
        << QByteArray("1: FLOCK  ADVISORY  WRITE 0 103:1a:77 0 EOF\n") << "none";
    QTest::newRow("the same inode on another device")
        << QByteArray("1: FLOCK  ADVISORY  WRITE 4242 103:1b:77 0 EOF\n") << "none";
    QTest::newRow("numbers are hex: 26 is not 0x26")
        << QByteArray("1: FLOCK  ADVISORY  WRITE 4242 103:26:77 0 EOF\n") << "none";
    QTest::newRow("a taker no longer running")
        << QByteArray("1: FLOCK  ADVISORY  WRITE 6161 103:1a:77 0 EOF\n") << "none";
    QTest::newRow("this process") << "1: FLOCK  ADVISORY  WRITE " + self + " 103:1a:77 0 EOF\n"
                                  << "none";
    QTest::newRow("no locks") << QByteArray() << "none";
}

void TestPortSharing::flockOwnerFromLocksText()
{
    QFETCH(QByteArray, locks);
    QFETCH(QString, owner);
    QTemporaryDir proc;
    QVERIFY(WriteFile(proc.filePath("locks"), locks));
    for (const char *pid : {"4242", "5151"})
        QVERIFY(QDir(proc.path()).mkdir(pid));
    QVERIFY(QDir(proc.path()).mkdir(QString::number(::getpid())));

    QCOMPARE(Shown(FlockOwner(makedev(259, 26), 77, {{}, proc.path().toStdString()})), owner);
}

void TestPortSharing::flockOwnerFromTheSystem_data()
{
    QTest::addColumn<QString>("holder");
    QTest::newRow("a child holds the flock") << "child";
    QTest::newRow("this process holds it") << "self";
    QTest::newRow("a child has it open without a flock") << "open only";
}

void TestPortSharing::flockOwnerFromTheSystem()
{
    QFETCH(QString, holder);
    PseudoTerminal port;
    const std::string path = port.devicePath();
    std::unique_ptr<Holder> child;
    int ourHandle = -1;
    if (holder == "self") {
        ourHandle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(::flock(ourHandle, LOCK_EX | LOCK_NB) == 0);
    } else {
        child = std::make_unique<Holder>(Opens(path, holder == "child" ? LOCK_EX | LOCK_NB : 0));
        QVERIFY(child->pid() > 0);
    }
    struct stat info = {};
    QVERIFY(::stat(path.c_str(), &info) == 0);

    const std::optional<int> owner = FlockOwner(info.st_dev, info.st_ino);

    if (ourHandle >= 0)
        ::close(ourHandle);
    if (holder != "child") {
        QCOMPARE(Shown(owner), "none");
        return;
    }
    QCOMPARE(Shown(owner), QString::number(child->pid()));
    QCOMPARE(QString::fromStdString(ProcessName(*owner)), holderName);
}

void TestPortSharing::openerOfFromProcFolders_data()
{
    QTest::addColumn<QString>("process");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("opener");
    const QString pts = QString::fromStdString(m_board->devicePath());
    QTest::newRow("a link to the device") << "4242" << pts << pts << "4242";
    QTest::newRow("another device") << "4242"
                                    << "/dev/null" << pts << "none";
    QTest::newRow("not a process folder") << "self" << pts << pts << "none";
    QTest::newRow("this process") << QString::number(::getpid()) << pts << pts << "none";
    QTest::newRow("regular files share no device number")
        << "4242" << m_links.filePath("a") << m_links.filePath("b") << "none";
}

void TestPortSharing::openerOfFromProcFolders()
{
    QFETCH(QString, process);
    QFETCH(QString, target);
    QFETCH(QString, asked);
    QFETCH(QString, opener);
    QVERIFY(WriteFile(m_links.filePath("a"), "a"));
    QVERIFY(WriteFile(m_links.filePath("b"), "b"));
    QTemporaryDir proc;
    QVERIFY(QDir(proc.path()).mkpath(process + "/fd"));
    QVERIFY(QDir(proc.path()).mkpath("5151/fd"));
    QVERIFY(QFile::link(proc.filePath("nowhere"), proc.filePath("5151/fd/3")));
    QVERIFY(QFile::link(target, proc.filePath(process + "/fd/3")));

    QCOMPARE(Shown(OpenerOf(asked.toStdString(), {{}, proc.path().toStdString()})), opener);
}

void TestPortSharing::openerOfFromTheSystem_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("childOpens");
    QTest::newRow("the device by its path") << "path" << true;
    QTest::newRow("the device through a link") << "link" << true;
    QTest::newRow("another node of the same device") << "node" << true;
    QTest::newRow("only we have it open") << "path" << false;
    QTest::newRow("a terminal of the same number in another devpts instance: not it")
        << "twin" << false;
}

void TestPortSharing::openerOfFromTheSystem()
{
    QFETCH(QString, asked);
    QFETCH(bool, childOpens);
    PseudoTerminal port;
    QTemporaryDir nodes;
    std::string askedPath = port.devicePath();
    if (asked == "link") {
        askedPath = nodes.filePath("link").toStdString();
        QVERIFY(::symlink(port.devicePath().c_str(), askedPath.c_str()) == 0);
    } else if (asked == "node") {
        struct stat info = {};
        QVERIFY(::stat(port.devicePath().c_str(), &info) == 0);
        askedPath = nodes.filePath("node").toStdString();
        if (::mknod(askedPath.c_str(), S_IFCHR | 0600, info.st_rdev) != 0)
            QSKIP("may not make device nodes here");
    }
    std::unique_ptr<Holder> child;
    if (childOpens) {
        child = std::make_unique<Holder>(Opens(port.devicePath()));
        QVERIFY(child->pid() > 0);
    }
    std::unique_ptr<Holder> twin;
    if (asked == "twin") {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a devpts instance of its own");
        const std::string refusal = DevptsInstanceRefusal(nodes.path().toStdString());
        if (!refusal.empty())
            QSKIP(("cannot make a devpts instance of its own here: " + refusal).c_str());
        twin = std::make_unique<Holder>(OpensTwinIn(port.devicePath(), nodes.path().toStdString()));
        QVERIFY(twin->pid() > 0);
    }

    const std::optional<int> opener = OpenerOf(askedPath);

    QCOMPARE(Shown(opener), childOpens ? QString::number(child->pid()) : QString("none"));
    if (opener)
        QCOMPARE(QString::fromStdString(InUseBy(opener)),
            QString("in use by %1 (process %2)").arg(holderName).arg(*opener));
}

void TestPortSharing::inUseBy_data()
{
    QTest::addColumn<int>("pid");
    QTest::addColumn<QByteArray>("comm");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("name and pid") << 4242 << QByteArray("porthog\n")
                                  << "in use by porthog (process 4242)";
    QTest::newRow("pid without a name") << 4242 << QByteArray() << "in use by process 4242";
    QTest::newRow("an empty name") << 4242 << QByteArray("\n") << "in use by process 4242";
    QTest::newRow("control characters in the name")
        << 4242 << QByteArray("a\x1b[2J\rb\n") << "in use by a?[2J?b (process 4242)";
    QTest::newRow("no holder found") << -1 << QByteArray() << "in use by another program";
    QTest::newRow("pid 0") << 0 << QByteArray() << "in use by another program";
}

void TestPortSharing::inUseBy()
{
    QFETCH(int, pid);
    QFETCH(QByteArray, comm);
    QFETCH(QString, phrase);
    QTemporaryDir proc;
    QVERIFY(QDir(proc.path()).mkdir("4242"));
    if (!comm.isEmpty())
        QVERIFY(WriteFile(proc.filePath("4242/comm"), comm));
    const std::optional<int> holder = pid < 0 ? std::nullopt : std::optional<int>(pid);
    QCOMPARE(QString::fromStdString(InUseBy(holder, {{}, proc.path().toStdString()})), phrase);
}

QTEST_GUILESS_MAIN(TestPortSharing)
#include "tst_port_sharing.moc"
