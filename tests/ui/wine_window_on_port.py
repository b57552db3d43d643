#!/usr/bin/env python3
"""The window from the zip on a real port: Ostrim.exe with its own Win32 line, COM3 mapped to a
pseudo-terminal, pressed with real keystrokes by the window tests' program.

Runs only inside scripts/wine-sandbox.sh --display :N --driver (run_window_tests.sh --driver),
whose /dev has no serial device. It unpacks Ostrim.exe from the zip, maps COM3 and nothing else,
copies every byte that reaches the terminal into wire.log in a scratch folder for the window
tests' program to wait on, and checks that the port's own settings come back.

    wine_window_on_port.py TEST_EXE ZIP
"""
import os
import re
import select
import sys
import tempfile
import threading
import zipfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_ports import (WINE, check_sandbox, fail, leave_as_another_program,  # noqa: E402
                        map_ports, open_terminals, own_settings, settings, stop_wine_server, wine)

PORT = 3


def copy_wire(master, log, stop):
    """Each byte from the terminal, as hex, appended to the log as it comes."""
    with open(log, "a") as out:
        while not stop.is_set():
            if not select.select([master], [], [], 0.1)[0]:
                continue
            try:
                chunk = os.read(master, 256)
            except OSError:
                return
            out.write("".join(f"{byte:02x} " for byte in chunk))
            out.flush()


def main():
    check_sandbox()
    test_program, zip_path = sys.argv[1], sys.argv[2]
    # Wine's own desktop inside the display places the window and gives it the keyboard.
    for key, value, data in ((r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                             (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "800x600")):
        if wine("reg", "add", key, "/v", value, "/d", data, "/f").returncode != 0:
            fail(f"cannot set {key}")
    terminals = open_terminals([PORT])
    map_ports(terminals)
    master, slave, _ = terminals[PORT]
    leave_as_another_program(slave)
    own = own_settings(slave)

    scratch = tempfile.mkdtemp()
    with zipfile.ZipFile(zip_path) as archive:
        # The zip's one folder, ostrim-<version>/, holds the program.
        member = next(name for name in archive.namelist() if name.endswith("/Ostrim.exe"))
        program = archive.extract(member, scratch)
    log = os.path.join(scratch, "wire.log")
    open(log, "w").close()
    stop = threading.Event()
    copier = threading.Thread(target=copy_wire, args=(master, log, stop))
    copier.start()
    environment = dict(os.environ, OSTRIM_PROGRAM=program,
                       OSTRIM_SCRATCH=scratch)
    run = wine(test_program, "--no-skip", "-tc=a press on a mapped port*", env=environment)
    stop.set()
    copier.join()
    stop_wine_server()

    print(run.stdout.replace("\r\n", "\n"), end="")
    print(run.stderr.replace("\r\n", "\n"), end="", file=sys.stderr)
    # A filter that matches nothing runs nothing and still passes.
    if not re.search(r"test cases: *1 \| *1 passed", run.stdout):
        fail("the press on a mapped port did not run and pass")
    given_back = settings(slave)
    if given_back != own:
        fail(f"COM{PORT} was left at {given_back}, not given back as {own}")
    sys.exit(run.returncode)


if __name__ == "__main__":
    main()
