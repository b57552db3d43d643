#!/usr/bin/env python3
"""ostrim.com end to end: typed as "ostrim" in cmd.exe, beside Ostrim.exe, on COM ports that Wine
maps to pseudo-terminals.

Runs only inside scripts/wine-sandbox.sh --driver. Maps COM3 and COM12 and nothing else, runs
each command line through cmd.exe in the programs' folder, and checks the exit code cmd.exe
passes on, both output streams and the bytes each terminal received.

    wine_command_line.py FOLDER     (holding ostrim.com and Ostrim.exe)
"""
import os
import pty
import re
import select
import shutil
import sys
import tempfile
import time

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


def typed_in_console(folder, arguments):
    """Ostrim.exe typed at cmd.exe's prompt: in a console on a pseudo-terminal, started with no
    standard handles of its own as Windows starts a window program there (Wine's cmd would hand
    its own on). What the console showed, without its control sequences and line breaks."""
    starter = os.path.join(folder, "ostrim_console_starter.exe")
    child, terminal = pty.fork()
    if child == 0:
        os.chdir(folder)
        os.execv(WINE, [WINE, starter, "Ostrim.exe", *arguments])
    shown = b""
    while select.select([terminal], [], [], 60)[0]:
        try:
            data = os.read(terminal, 4096)
        except OSError:  # the terminal is gone with the last program on it
            break
        if not data:
            break
        shown += data
    os.close(terminal)
    code = os.waitstatus_to_exitcode(os.waitpid(child, 0)[1])
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", shown.decode("utf-8", "replace"))
    return code, re.sub(r"[\r\n]+", " ", text).strip()


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
        ("/port is no option", ["/port", "3", "/address", "7"], 2, "",
         "ostrim: Unknown option '/port'.\n" + HELP, "nothing", "nothing"),
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

    # Alone in a folder, with no argument: the window's program is missing, and it says so, even
    # when started from a folder that has one: it is looked for beside ostrim.com alone.
    with tempfile.TemporaryDirectory() as alone:
        shutil.copy(os.path.join(folder, "ostrim.com"), alone)
        program = "Z:" + os.path.join(alone, "ostrim.com").replace("/", "\\")
        code, out, err = ostrim(folder, [], program)
        check("no window beside it", (code, out, err.endswith(
            "Ostrim.exe is missing: the window's program belongs beside ostrim.com.\n")),
            (1, "", True))

    # From a folder with a blank in its name, as C:\Program Files\Ostrim is: ostrim.com starts the
    # program beside it with its path as one argument, and a stand-in for Ostrim.exe writes down
    # what it was given. Split in two, the path would be a command line, and no window would come.
    with tempfile.TemporaryDirectory() as parent:
        blank = os.path.join(parent, "Program Files")
        os.mkdir(blank)
        shutil.copy(os.path.join(folder, "ostrim.com"), blank)
        shutil.copy(os.path.join(folder, "ostrim_argument_recorder.exe"),
                    os.path.join(blank, "Ostrim.exe"))
        ran = ostrim(blank, [])
        recorded = os.path.join(blank, "arguments.txt")
        for _ in range(100):  # ostrim.com does not wait for the window's program
            if os.path.exists(recorded):
                break
            time.sleep(0.1)
        arguments = []
        if os.path.exists(recorded):
            with open(recorded, encoding="utf-16-le") as lines:
                arguments = lines.read().splitlines()
        program = "Z:" + os.path.join(blank, "Ostrim.exe").replace("/", "\\")
        check("Ostrim.exe from a folder with a blank", (ran, [a.lower() for a in arguments]),
              ((0, "", ""), [program.lower()]))

    code, out, err = ostrim(folder, ["/?"])
    check("/? shows the help", (code, "Usage:" in out, err), (0, True, ""))

    # Ostrim.exe typed in cmd.exe: it writes to the console it was typed in, which it must attach
    # to itself. Long lines are wrapped by the console, so only their beginnings are compared.
    for name, arguments, code, shown in [
            ("Ostrim.exe --version in a console", ["--version"], 0, "Ostrim 1.00"),
            ("Ostrim.exe --help in a console", ["--help"], 0, "Usage: ostrim"),
            ("Ostrim.exe's usage error in a console", ["--port", "3"], 2,
             "ostrim: --port and --address are both needed"),
    ]:
        ran, text = typed_in_console(folder, arguments)
        check(name, (ran, shown in text), (code, True))

    # Ostrim.exe in a batch file: the command line as ostrim.com runs it, and its exit code.
    with tempfile.TemporaryDirectory() as batch:
        shutil.copy(os.path.join(folder, "Ostrim.exe"), batch)
        with open(os.path.join(batch, "send.bat"), "w", newline="\r\n") as script:
            script.write("@echo off\nOstrim.exe --port 3 --address 7 --on 4\n"
                         "echo exit code %ERRORLEVEL%\n")
        check("Ostrim.exe from a batch file", (ostrim(batch, [], "send.bat"),
                                               received(terminals[3][0], 0.1)),
              ((0, "exit code 0\n", ""), "07 10"))

    check.finish(len(rows) + 7)


if __name__ == "__main__":
    main()
