#!/usr/bin/env python3
"""ostrim.com end to end: typed as "ostrim" in cmd.exe, beside Ostrim.exe, on COM ports that Wine
maps to pseudo-terminals.

Runs only inside scripts/wine-sandbox.sh --driver. Maps COM3 and COM12 and nothing else, runs
each command line through cmd.exe in the programs' folder, and checks the exit code cmd.exe
passes on, both output streams and the bytes each terminal received.

    wine_command_line.py FOLDER     (holding ostrim.com and Ostrim.exe)
"""
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_ports import (WINE, Checks, check_sandbox, leave_as_another_program, map_ports,  # noqa: E402
                        open_terminals, own_settings, received)

import subprocess  # noqa: E402

MAPPED = (3, 12)
SEND = ["--address", "7", "--on", "1,3"]
HELP = "Try 'ostrim --help' for more information.\n"


def ostrim(folder, arguments, program="ostrim"):
    """As a user types it: "ostrim ..." in cmd.exe, in the folder of both programs."""
    ran = subprocess.run([WINE, "cmd", "/c", program, *arguments], cwd=folder,
                         capture_output=True, encoding="utf-8", errors="replace", timeout=60)
    return ran.returncode, ran.stdout.replace("\r\n", "\n"), ran.stderr.replace("\r\n", "\n")


def main():
    check_sandbox()
    folder = sys.argv[1]
    terminals = open_terminals(MAPPED)
    map_ports(terminals)

    rows = [
        # name, arguments, exit code, standard output, standard error, bytes on COM3, on COM12
        ("port 3", ["--port", "3", *SEND], 0, "", "", "07 a0", "nothing"),
        ("port 12, verbose", ["--port", "12", *SEND, "--verbose"], 0,
         "Sent 07 A0 to port 12 (COM12)\n", "", "nothing", "07 a0"),
        ("COM3 by name, verbose: named alone", ["--device", "COM3", *SEND, "--verbose"], 0,
         "Sent 07 A0 to COM3\n", "", "07 a0", "nothing"),
        ("the device name in any case", ["--device", r"\\.\com12", *SEND, "--verbose"], 0,
         "Sent 07 A0 to COM12\n", "", "nothing", "07 a0"),
        ("a missing port names those there are", ["--port", "5", *SEND], 1, "",
         "ostrim: Port 5 does not exist. This system has 2 serial ports: COM3, COM12\n",
         "nothing", "nothing"),
        ("a usage error", ["--port", "3"], 2, "",
         "ostrim: --port and --address are both needed to send (or --device in place of "
         "--port)\n" + HELP, "nothing", "nothing"),
        ("the port list", ["--list-ports"], 0, "3 = COM3\n12 = COM12\n", "", "nothing",
         "nothing"),
        ("the version", ["--version"], 0, "Ostrim 1.00\n", "", "nothing", "nothing"),
        # Through the ANSI code page, the full-width digit one would become "1" and the full-width
        # quotes real ones, which the C runtime would strip: 07 A0 on COM3.
        ("a full-width digit is no number", ["--port", "\uff11", *SEND], 2, "",
         "ostrim: --port takes a whole number from 1 to 32767, not '\uff11'\n" + HELP, "nothing",
         "nothing"),
        ("full-width quotes are no quotes", ["--port", "3", "--address", "\uff027\uff02"], 2, "",
         "ostrim: --address takes a whole number from 1 to 255, not '\uff027\uff02'\n" + HELP,
         "nothing", "nothing"),
    ]
    # Each port as another program left it, to be given back so after every row.
    for _, slave, _ in terminals.values():
        leave_as_another_program(slave)
    own = {number: own_settings(slave) for number, (_, slave, _) in terminals.items()}
    check = Checks()

    for name, arguments, code, out, err, on3, on12 in rows:
        check(name, ostrim(folder, arguments), (code, out, err))
        check(f"{name}: on the wire", (received(terminals[3][0], 0.1),
                                       received(terminals[12][0], 0.1)), (on3, on12))
        for number, (_, slave, _) in terminals.items():
            check(f"{name}: COM{number} given back", own_settings(slave), own[number])

    # Alone in a folder, with no argument: the window's program is missing, and it says so.
    with tempfile.TemporaryDirectory() as alone:
        shutil.copy(os.path.join(folder, "ostrim.com"), alone)
        code, out, err = ostrim(alone, [])
        check("no window beside it", (code, out, err.endswith(
            "Ostrim.exe is missing: the window's program belongs beside ostrim.com.\n")),
            (1, "", True))

    code, out, err = ostrim(folder, ["/?"])
    check("/? shows the help", (code, "Usage:" in out, err), (0, True, ""))

    # Ostrim.exe in a batch file: the command line as ostrim.com runs it, and its exit code.
    with tempfile.TemporaryDirectory() as batch:
        shutil.copy(os.path.join(folder, "Ostrim.exe"), batch)
        with open(os.path.join(batch, "send.bat"), "w", newline="\r\n") as script:
            script.write("@echo off\nOstrim.exe --port 3 --address 7 --on 4\n"
                         "echo exit code %ERRORLEVEL%\n")
        check("Ostrim.exe from a batch file", (ostrim(batch, [], "send.bat"),
                                               received(terminals[3][0], 0.1)),
              ((0, "exit code 0\n", ""), "07 10"))

    check.finish(len(rows) + 3)


if __name__ == "__main__":
    main()
