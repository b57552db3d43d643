#!/usr/bin/env python3
"""--device rfc2217:// and socket:// end to end: the built program against real ser2nets whose far
ends are pseudo-terminals held here (hundreds of presses, each frame counted at the far port; a
held port; each scheme at the other's port), and against sockets of this test's own for what only
a real connection shows. Each server's behaviour in the protocol is a row of the line's own
scripted table. Only 127.0.0.1 is ever contacted.

    network_line.py PROGRAM             ostrim on Linux
    network_line.py --wine FOLDER       ostrim.com in FOLDER, inside scripts/wine-sandbox.sh --driver
    network_line.py --resolver PROGRAM  (itself, in a namespace of its own: see resolver_rows)
"""
import os
import pty
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ser2net import SER2NET, free_port, start_ser2net  # noqa: E402
from wine_ports import WINE, Checks, check_sandbox, settings, start_wine_services  # noqa: E402

SEND = ["--address", "7", "--on", "1,3"]


class Program:
    """ostrim as a shell runs it: directly on Linux, through cmd.exe under Wine."""

    def __init__(self, wine_folder=None, program=None):
        self.folder, self.program = wine_folder, program

    def __call__(self, *arguments):
        command = ([WINE, "cmd", "/c", "ostrim", *arguments] if self.folder
                   else [self.program, *arguments])
        try:
            ran = subprocess.run(command, cwd=self.folder, capture_output=True, text=True,
                                 timeout=60)
        except subprocess.TimeoutExpired:
            # A press that never ends (a socket left blocking in a connect that is never
            # answered) fails its own row, and the rows after it still run.
            return None, "still running after 60 seconds"
        return ran.returncode, ran.stderr.replace("\r\n", "\n")


class FarEnd:
    """The board's side of the far port: a pseudo-terminal whose arrivals are read at once, with
    the line's settings as they stood when the first bytes were there to read (ser2net puts the
    port back when the connection ends)."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.path = os.ttyname(self.slave)
        self.data, self.settings = b"", None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        # Read ahead of everything else where the system allows it: ser2net empties its port as a
        # session ends, and what this side has not read by then is lost to it, not to ostrim.
        try:
            os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))
        except (OSError, AttributeError):
            pass
        while True:
            select.select([self.master], [], [])
            if self.settings is None:
                self.settings = settings(self.slave)
            self.data += os.read(self.master, 256)

    def take(self, count):
        """The bytes and settings of one press, waiting briefly for count bytes."""
        end = time.monotonic() + 2
        while len(self.data) < count and time.monotonic() < end:
            time.sleep(0.01)
        time.sleep(0.02)
        taken = (self.data.hex(" ") or "nothing", self.settings)
        self.data, self.settings = b"", None
        return taken


class OwnServer:
    """One connection on 127.0.0.1, played by behaviour(connection, heard), where heard keeps
    every byte the client sent and what the behaviour noted of the client."""

    def __init__(self, behaviour):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.heard = bytearray()
        self.notes = []
        self.thread = threading.Thread(target=self._serve, args=(behaviour,), daemon=True)
        self.thread.start()

    def _serve(self, behaviour):
        connection, _ = self.listener.accept()
        try:
            behaviour(connection, self)
        except OSError as error:
            self.notes.append(type(error).__name__)
        connection.close()

    def stop(self):
        self.thread.join(10)
        self.listener.close()


def says_goodbye_after_the_frame(connection, server):
    """Takes the frame and the client's close of its sending side, then still has words for it
    before closing in turn: a client that closed both directions resets the connection when they
    come."""
    while chunk := connection.recv(4096):
        server.heard.extend(chunk)
    time.sleep(0.1)
    connection.sendall(b"goodbye\r\n")
    time.sleep(0.1)
    connection.shutdown(socket.SHUT_WR)
    connection.recv(4096)  # a reset raises here, and is noted by its name
    server.notes.append("closed in turn")


def resets_after_the_opening(connection, server):
    """Agrees to the com port option, then resets the connection on the client's first words: the
    client's purge on the way out then meets a reset socket, which must not end it by a signal."""
    connection.sendall(bytes([255, 253, 44, 255, 253, 0]))
    server.heard.extend(connection.recv(4096))
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    connection.close()


class NeverAccepts:
    """A listener whose queue is full, so that a connect to it is never answered: what a host that
    is off looks like, without leaving the loopback."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.waiting = []
        for _ in range(4):
            waiting = socket.socket()
            waiting.setblocking(False)
            try:
                waiting.connect(("127.0.0.1", self.port))
            except BlockingIOError:
                pass
            self.waiting.append(waiting)
        time.sleep(0.2)

    def stop(self):
        for waiting in self.waiting:
            waiting.close()
        self.listener.close()


# Presses to each ser2net port; every one that exits 0 must have put its frame on the far port.
PRESSES = int(os.environ.get("OSTRIM_NETWORK_PRESSES", "300"))
FRAMES = [(["--address", "7", "--on", "1,3"], "07 a0"),
          (["--address", "255", "--on", "1,2,3,4"], "ff f0"),
          (["--address", "1"], "01 00")]


def loss_rows(ostrim, check, address, far_end, presses):
    """Presses in a row, each frame in turn: how many exited 0 without their frame arriving."""
    lost, failed, shapes = 0, [], set()
    for index in range(presses):
        arguments, frame = FRAMES[index % len(FRAMES)]
        outcome = ostrim("--device", address, *arguments)
        arrived, shape = far_end.take(2)
        if outcome != (0, ""):
            failed.append(outcome)
        elif arrived != frame:
            lost += 1
        shapes.add(shape)
    scheme = address.split(":")[0]
    check(f"{scheme}: {presses} presses, none failed", failed[:3], [])
    check(f"{scheme}: every press that exited 0 put its frame on the far port", lost, 0)
    # Read as the bytes arrive, racing the server's give-back of the port's own settings: the
    # scripted table checks every confirmed setting; this only that the real far port was set.
    check(f"{scheme}: at 2400 8N1 on the far port", "2400 N81" in shapes, True)
    return 3


def held_rows(ostrim, check, telnet, raw, telnet_end, raw_end):
    """A port that another client holds: Debian 12's ser2net says so and closes, and the press must
    fail naming it with nothing at the far port. On a busy machine ser2net may say it only after
    the frame went, or reset the connection: the message says when. A ser2net that lets the
    second client in (Debian 13's does on its RFC 2217 port) must then have the frame delivered:
    either way the exit code tells the truth."""
    refused = re.compile(r'ostrim: \S+ said "Port already in use" and closed the connection '
                         r"before (the far port was set up|the frame was sent|the frame had time "
                         r"to leave the far port, so it may not have reached the board)\n")
    rows = 0
    for address, far_end in [(telnet, telnet_end), (raw, raw_end)]:
        holder = socket.create_connection(("127.0.0.1", int(address.rsplit(":", 1)[1])))
        time.sleep(0.2)
        code, message = ostrim("--device", address, *SEND)
        holder.close()
        arrived = far_end.take(2 if code == 0 else 0)[0]
        if code == 0:
            print(f"{address}: ser2net let a second client in; the frame was sent")
            check(f"{address}: held, shared: sent and delivered", (message, arrived),
                  ("", "07 a0"))
        else:
            check(f"{address}: held: refused, naming it", bool(refused.fullmatch(message)), True)
            check(f"{address}: held: nothing at the far port", arrived, "nothing")
        time.sleep(0.2)
        rows += 1
    return rows


def wrong_protocol_rows(ostrim, check, telnet_port, raw_port, telnet_end, raw_end):
    """Each scheme to the other's accepter: refused, and not a byte on the board's line."""
    raw_as_telnet = f"rfc2217://127.0.0.1:{raw_port}"
    check("rfc2217:// to a raw port", ostrim("--device", raw_as_telnet, *SEND),
          (1, f"ostrim: {raw_as_telnet} said nothing within 1 second of the connect, where an "
              "RFC 2217 server opens its negotiation, so nothing was sent: a raw TCP port takes "
              f"socket://, and a server that waits for its client takes {raw_as_telnet}"
              "?client-first\n"))
    check("rfc2217:// to a raw port: nothing on its line", raw_end.take(0)[0], "nothing")
    telnet_as_raw = f"socket://127.0.0.1:{telnet_port}"
    check("socket:// to an RFC 2217 port",
          ostrim("--device", telnet_as_raw, "--address", "255", "--on", "1,2,3,4"),
          (1, f"ostrim: {telnet_as_raw} speaks telnet, so nothing was sent: a server of RFC 2217 "
              f"takes rfc2217://127.0.0.1:{telnet_port}\n"))
    check("socket:// to an RFC 2217 port: nothing on its line", telnet_end.take(0)[0], "nothing")
    return 4


def ser2net_rows(ostrim, check, folder, presses):
    telnet_end, raw_end = FarEnd(), FarEnd()
    telnet_server, telnet_port = start_ser2net(folder, telnet_end.path)
    raw_server, raw_port = start_ser2net(folder, raw_end.path, raw=True)
    telnet, raw = f"rfc2217://127.0.0.1:{telnet_port}", f"socket://127.0.0.1:{raw_port}"
    try:
        return (loss_rows(ostrim, check, telnet, telnet_end, presses)
                + loss_rows(ostrim, check, raw, raw_end, presses)
                + held_rows(ostrim, check, telnet, raw, telnet_end, raw_end)
                + wrong_protocol_rows(ostrim, check, telnet_port, raw_port, telnet_end, raw_end))
    finally:
        for server in (telnet_server, raw_server):
            server.terminate()
            server.wait()


def socket_rows(ostrim, check):
    """What only real sockets show: a refusal, a host that never answers the connect, and a server
    that still speaks after the frame."""
    refused = f"rfc2217://127.0.0.1:{free_port()}"
    check("refused", ostrim("--device", refused, *SEND),
          (1, f"ostrim: {refused} refused the connection: nothing listens on port "
              f"{refused.rsplit(':', 1)[1]}\n"))
    silent = NeverAccepts()
    address = f"socket://127.0.0.1:{silent.port}"
    check("a host that never answers the connect: bounded by the press's time",
          ostrim("--device", address, *SEND),
          (1, f"ostrim: {address} did not accept the connection within 5 seconds. Check that the "
              "device server is on and can be reached from here.\n"))
    silent.stop()
    server = OwnServer(says_goodbye_after_the_frame)
    address = f"socket://127.0.0.1:{server.port}"
    check("a server with words after the frame", ostrim("--device", address, *SEND), (0, ""))
    server.stop()
    check("a server with words after the frame: the frame", bytes(server.heard).hex(" "), "07 a0")
    check("a server with words after the frame: read to its close", server.notes,
          ["closed in turn"])
    rows = 6
    if not ostrim.folder:  # a signal for a reset connection is POSIX's own
        server = OwnServer(resets_after_the_opening)
        address = f"rfc2217://127.0.0.1:{server.port}"
        check("a server that resets after the opening: a message, not a signal",
              ostrim("--device", address, *SEND),
              (1, f"ostrim: {address} closed the connection before the far port was set up\n"))
        server.stop()
        rows += 1
    check("a malformed address: a usage error",
          ostrim("--device", "rfc2217://127.0.0.1:2217/", *SEND)[0], 2)
    return rows


DNS_SILENT, DNS_MISSING = "silent.invalid", "missing.invalid"


def dns_server():
    """A resolver on 127.0.0.1:53 that says the one name does not exist and never answers for
    anything else."""
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))

    def serve():
        while True:
            query, client = server.recvfrom(512)
            if DNS_MISSING.split(".")[0].encode() in query:
                # The query itself, marked a response with "no such name".
                server.sendto(query[:2] + b"\x81\x83" + query[4:], client)
    threading.Thread(target=serve, daemon=True).start()


def resolver_rows(ostrim, check):
    """Runs in a mount and network namespace of its own, made by the parent: only a loopback, and
    a resolv.conf that names the resolver above."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with tempfile.NamedTemporaryFile("w", suffix=".conf") as conf:
        conf.write("nameserver 127.0.0.1\noptions attempts:1 timeout:30\n")
        conf.flush()
        subprocess.run(["mount", "--bind", conf.name, "/etc/resolv.conf"], check=True)
        dns_server()
        for host, message in [
                (DNS_SILENT, f"the name {DNS_SILENT} was not looked up within 5 seconds. Check "
                             "that the device server is on and can be reached from here."),
                (DNS_MISSING, f"no host named {DNS_MISSING} was found")]:
            address = f"rfc2217://{host}:2217"
            check(host, ostrim("--device", address, *SEND), (1, f"ostrim: {address} {message}\n"))
    return 2


def main():
    check = Checks()
    if sys.argv[1] == "--resolver":
        check.finish(resolver_rows(Program(program=sys.argv[2]), check))
    if SER2NET is None:
        print("skipped: ser2net is not installed (scripts/install-deps.sh test)")
        sys.exit(77)
    if sys.argv[1] == "--wine":
        check_sandbox()
        start_wine_services()
        ostrim = Program(wine_folder=sys.argv[2])
    else:
        ostrim = Program(program=sys.argv[1])
    # Under Wine the same endings are what counts; the count of hundreds is the Linux run's.
    presses = PRESSES if sys.argv[1] != "--wine" else min(PRESSES, 10)
    with tempfile.TemporaryDirectory() as folder:
        rows = ser2net_rows(ostrim, check, folder, presses) + socket_rows(ostrim, check)
    if sys.argv[1] != "--wine":
        if os.geteuid() == 0 and subprocess.run(["unshare", "-m", "-n", "true"]).returncode == 0:
            ran = subprocess.run(["unshare", "-m", "-n", sys.executable, __file__, "--resolver",
                                  sys.argv[1]], capture_output=True, text=True)
            check("resolver cases", (ran.returncode, ran.stderr), (0, ""))
            rows += 2
        else:
            print("skipped the resolver cases: a namespace of their own needs root")
    check.finish(rows)


if __name__ == "__main__":
    main()
