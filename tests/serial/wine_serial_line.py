#!/usr/bin/env python3
"""The Win32 line on real ports: pseudo-terminals that Wine maps to COM ports.

Runs only inside scripts/wine-sandbox.sh --driver, whose /dev has no serial device and whose
devpts is its own. It makes the pseudo-terminals, maps COM3 and COM12 to them and nothing else,
runs win32_line_probe under Wine, and watches each port from the Linux side: its settings while
Wine holds it and after, and the bytes that reach it.

    wine_serial_line.py PROBE_EXE
"""
import os
import subprocess
import sys
import termios

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_ports import (WINE, Checks, check_sandbox, leave_as_another_program, map_ports,  # noqa: E402
                        open_terminals, own_settings, received, settings, wine)

MAPPED = (3, 12)  # a port below 10, and one that needs the \\.\ name
MISSING = 5


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
    check_sandbox()
    probe = sys.argv[1]
    terminals = open_terminals(MAPPED)
    map_ports(terminals)

    check = Checks()

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
            own = own_settings(slave)
        got, held = send(probe, port, slave, stopped)
        check(f"{name}: said", got, said)
        if slave is None:
            continue
        check(f"{name}: held at", held, held_at)
        check(f"{name}: given back", settings(slave), own)
        termios.tcflow(slave, termios.TCOON)
        check(f"{name}: on the wire", received(master), wire)

    check.finish(len(rows) + 1)


if __name__ == "__main__":
    main()
