"""COM ports that Wine maps to pseudo-terminals, for the drivers that run Windows programs on them.

Used only inside scripts/wine-sandbox.sh --driver, whose /dev has no serial device and whose
devpts is its own: check_sandbox() refuses to go on anywhere else.
"""
import atexit
import glob
import os
import pty
import select
import subprocess
import sys
import termios

WINE = os.environ.get("OSTRIM_WINE", "")
PREFIX = os.environ.get("WINEPREFIX", "")


def fail(text):
    print(f"{os.path.basename(sys.argv[0])}: {text}", file=sys.stderr)
    sys.exit(1)


def wine(*arguments, stdin=None, env=None):
    return subprocess.run([WINE, *arguments], capture_output=True, text=True, input=stdin,
                          env=env)


def check_sandbox():
    """No serial device here, and a prefix made: a test of a missing port must not find one."""
    if os.environ.get("OSTRIM_WINE_SANDBOX") != "1" or not WINE or not PREFIX:
        fail("runs only inside scripts/wine-sandbox.sh --driver")
    serial = [path for pattern in ("/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*")
              for path in glob.glob(pattern)]
    if serial:
        fail(f"serial devices in the sandbox: {serial}")
    # Making a prefix is Wine's own start-up, not what is tested; under load its first try has
    # been seen to fail once, so it gets a second before the driver gives up, saying why.
    for _ in range(2):
        made = wine("wineboot", "--init")
        if made.returncode == 0:
            break
    else:
        fail(f"cannot make the Wine prefix: {made.stderr.strip()[-500:]}")


def wine_server():
    return os.path.join(os.path.dirname(WINE), "wineserver")


def stop_wine_server():
    if not WINE:
        return
    subprocess.run([wine_server(), "-k"], capture_output=True)
    subprocess.run([wine_server(), "-w"], capture_output=True)


def start_wine_services():
    """One Wine server, and one start of Wine's own services, for all the programs a driver runs.

    Debian's wineserver leaves as soon as its last program ends, so every program would start a
    server and Wine's services anew, and whatever a service says would land in that program's
    standard error: Wine 8's mount manager now and then crashes as it starts (an unhandled page
    fault in ntoskrnl's IoCreateDevice), a line that no row expects from ostrim. Started once,
    their output goes to a file in the prefix instead, and they stay until stop_wine_server(), or
    a minute after the last program if the driver dies first."""
    if subprocess.run([wine_server(), "-p60"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        fail("cannot start the Wine server")
    atexit.register(stop_wine_server)
    with open(os.path.join(PREFIX, "wine-services.log"), "w") as log:
        if subprocess.run([WINE, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                          stdout=log, stderr=log).returncode != 0:
            fail(f"cannot start Wine's services (see {log.name})")


def com_links():
    folder = os.path.join(PREFIX, "dosdevices")
    return {name: os.readlink(os.path.join(folder, name))
            for name in os.listdir(folder) if name.lower().startswith("com")}


def open_terminals(numbers):
    """A pseudo-terminal for each COM number: {number: (master, slave, slave's path)}."""
    terminals = {}
    for number in numbers:
        master, slave = pty.openpty()
        terminals[number] = (master, slave, os.ttyname(slave))
    return terminals


def map_ports(terminals):
    """Only our ports, and no link left from an earlier run: Wine keeps one per COM port in the
    prefix, and a stale one would point at whatever pseudo-terminal now has its number."""
    wine("reg", "delete", r"HKLM\Software\Wine\Ports", "/f")
    for number, (_, _, name) in terminals.items():
        if wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", f"COM{number}", "/d", name,
                "/f").returncode != 0:
            fail(f"cannot map COM{number}")
    stop_wine_server()
    for name in com_links():
        os.remove(os.path.join(PREFIX, "dosdevices", name))
    # Wine's mount manager makes the links again as it starts.
    start_wine_services()
    expected = {f"com{number}": name for number, (_, _, name) in terminals.items()}
    if com_links() != expected:
        fail(f"COM ports {com_links()}, not only the mapped {expected}")


def settings(terminal):
    """Speed, parity, data and stop bits as "2400 N81", then any handshake or processing."""
    iflag, oflag, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(terminal)
    size = {termios.CS5: "5", termios.CS6: "6", termios.CS7: "7", termios.CS8: "8"}
    speeds = {termios.B2400: "2400", termios.B9600: "9600"}
    parity = "N" if not cflag & termios.PARENB else "O" if cflag & termios.PARODD else "E"
    text = speeds.get(ospeed, "?") + (" " if ispeed == ospeed else "/? ") + parity
    text += size[cflag & termios.CSIZE] + ("2" if cflag & termios.CSTOPB else "1")
    if cflag & termios.CRTSCTS:
        text += " rts/cts"
    if iflag & (termios.IXON | termios.IXOFF):
        text += " xon/xoff"
    if oflag & termios.OPOST:
        text += " processed"
    return text


def leave_as_another_program(terminal):
    """9600 7E2 with both handshakes and output processing, as the port's own state."""
    iflag, oflag, cflag, lflag, _, _, cc = termios.tcgetattr(terminal)
    cflag = (cflag & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB
    cflag |= termios.CRTSCTS
    attributes = [iflag | termios.IXON | termios.IXOFF, oflag | termios.OPOST | termios.ONLCR,
                  cflag & ~termios.PARODD, lflag & ~(termios.ECHO | termios.ICANON),
                  termios.B9600, termios.B9600, cc]
    termios.tcsetattr(terminal, termios.TCSANOW, attributes)


def own_settings(terminal):
    """What a Win32 line must give back: a DCB has no output processing to give back, as
    Windows ports have none; everything a DCB holds comes back. A pseudo-terminal is always 8
    bits without parity."""
    return settings(terminal).replace(" processed", "")


def received(master, wait=0.3):
    """What reached the terminal so far, as hex bytes, or "nothing"."""
    data = b""
    while select.select([master], [], [], wait)[0]:
        try:
            chunk = os.read(master, 256)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data.hex(" ") or "nothing"


class Checks:
    """A driver's comparisons: every mismatch is kept, and all are told when the rows are done."""

    def __init__(self):
        self.failures = []

    def __call__(self, name, got, expected):
        if got != expected:
            self.failures.append(f"{name}:\n  got      {got!r}\n  expected {expected!r}")

    def finish(self, rows):
        for failure in self.failures:
            print(failure, file=sys.stderr)
        print(f"{rows} rows, {len(self.failures)} failures")
        sys.exit(1 if self.failures else 0)
