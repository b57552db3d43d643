#!/usr/bin/env python3
"""The Win32 line on real ports: pseudo-terminals that Wine maps to COM ports.

Runs only inside scripts/wine-sandbox.sh --driver, whose /dev has no serial device and whose
devpts is its own. It makes the pseudo-terminals, maps COM3 and COM12 to them and nothing else,
runs win32_line_probe under Wine, and watches each port from the Linux side: its settings while
Wine holds it and after, and the bytes that reach it.

    wine_serial_line.py PROBE_EXE
"""
import glob
import os
import pty
import select
import subprocess
import sys
import termios

WINE = os.environ.get("OSTRIM_WINE", "")
PREFIX = os.environ.get("WINEPREFIX", "")
MAPPED = (3, 12)  # a port below 10, and one that needs the \\.\ name
MISSING = 5


def fail(text):
    print("wine_serial_line: " + text, file=sys.stderr)
    sys.exit(1)


def wine(*arguments, stdin=None):
    return subprocess.run([WINE, *arguments], capture_output=True, text=True, input=stdin)


def stop_wine_server():
    subprocess.run([os.path.join(os.path.dirname(WINE), "wineserver"), "-k"], capture_output=True)
    subprocess.run([os.path.join(os.path.dirname(WINE), "wineserver"), "-w"], capture_output=True)


def com_links():
    folder = os.path.join(PREFIX, "dosdevices")
    return {name: os.readlink(os.path.join(folder, name))
            for name in os.listdir(folder) if name.lower().startswith("com")}


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
    # Wine's mount manager makes the links again as the server starts.
    wine("cmd", "/c", "exit")
    expected = {f"com{number}": name for number, (_, _, name) in terminals.items()}
    if com_links() != expected:
        fail(f"COM ports {com_links()}, not only the mapped {expected}")


def settings(terminal):
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


def received(master):
    data = b""
    while select.select([master], [], [], 0.3)[0]:
        try:
            chunk = os.read(master, 256)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data.hex(" ") or "nothing"


def send(probe, port, terminal=None, stopped=False):
    """Runs one cycle; gives what the probe said and the port's settings while it was held."""
    process = subprocess.Popen([WINE, probe, "send", str(port)], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
    first = process.stdout.readline().strip()
    held = None
    if first == "open":
        if terminal is not None:
            held = settings(terminal)
            if stopped:
                termios.tcflow(terminal, termios.TCOOFF)
        process.stdin.write("go\n")
        process.stdin.flush()
        first = process.stdout.readline().strip()
    process.stdin.close()
    process.wait(timeout=60)
    return first, held


def main():
    if os.environ.get("OSTRIM_WINE_SANDBOX") != "1" or not WINE or not PREFIX:
        fail("runs only inside scripts/wine-sandbox.sh --driver")
    serial = [path for pattern in ("/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*")
              for path in glob.glob(pattern)]
    if serial:
        fail(f"serial devices in the sandbox: {serial}")
    probe = sys.argv[1]
    if wine("wineboot", "--init").returncode != 0:
        fail("cannot make the Wine prefix")

    terminals = {}
    for number in MAPPED:
        master, slave = pty.openpty()
        terminals[number] = (master, slave, os.ttyname(slave))
    map_ports(terminals)

    failures = []

    def check(name, got, expected):
        if got != expected:
            failures.append(f"{name}:\n  got      {got!r}\n  expected {expected!r}")

    check("port list", wine(probe, "list").stdout.replace("\r\n", "\n"),
          "3 = COM3\n12 = COM12\n")

    stalled = "did not send the frame within 1 second, so it was discarded."
    rows = [
        # name, port, stopped, said, held at, bytes on the wire
        ("sent on COM3", 3, False, "sent", "2400 N81", "0a a0"),
        ("sent on COM12", 12, False, "sent", "2400 N81", "0a a0"),
        ("missing port", MISSING, False,
         "Port 5 does not exist. This system has 2 serial ports: COM3, COM12", None, None),
        ("stalled port", 3, True, f"Port 3 (COM3) {stalled}", "2400 N81", "nothing"),
    ]
    for name, port, stopped, said, held_at, wire in rows:
        master, slave, _ = terminals.get(port, (None, None, None))
        if slave is not None:
            leave_as_another_program(slave)
            # A DCB has no output processing to give back: Windows ports have none. Everything
            # a DCB holds comes back. A pseudo-terminal is always 8 bits without parity.
            own = settings(slave).replace(" processed", "")
        got, held = send(probe, port, slave, stopped)
        check(f"{name}: said", got, said)
        if slave is None:
            continue
        check(f"{name}: held at", held, held_at)
        check(f"{name}: given back", settings(slave), own)
        termios.tcflow(slave, termios.TCOON)
        check(f"{name}: on the wire", received(master), wire)

    stop_wine_server()
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{len(rows) + 1} rows, {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
