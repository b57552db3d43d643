#!/usr/bin/env python3
"""--device rfc2217:// and socket:// end to end: the built program against a real ser2net whose far
end is a pseudo-terminal held here, and against servers of this test's own that each break the
protocol in one way. Only 127.0.0.1 is ever contacted.

    network_line.py PROGRAM             ostrim on Linux
    network_line.py --wine FOLDER       ostrim.com in FOLDER, inside scripts/wine-sandbox.sh --driver
    network_line.py --resolver PROGRAM  (itself, in a namespace of its own: see resolver_rows)
"""
import os
import pty
import select
import socket
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
IAC, DONT, DO, SB, SE, COM_PORT = 255, 254, 253, 250, 240, 44
PURGE_TRANSMIT = bytes([IAC, SB, COM_PORT, 12, 2, IAC, SE])


class Program:
    """ostrim as a shell runs it: directly on Linux, through cmd.exe under Wine."""

    def __init__(self, wine_folder=None, program=None):
        self.folder, self.program = wine_folder, program

    def __call__(self, *arguments):
        command = ([WINE, "cmd", "/c", "ostrim", *arguments] if self.folder
                   else [self.program, *arguments])
        ran = subprocess.run(command, cwd=self.folder, capture_output=True, text=True, timeout=60)
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
        time.sleep(0.05)
        taken = (self.data.hex(" ") or "nothing", self.settings)
        self.data, self.settings = b"", None
        return taken


class OwnServer:
    """One connection on 127.0.0.1, played by behaviour(connection, heard), where heard keeps
    every byte the client sent."""

    def __init__(self, behaviour):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.heard = bytearray()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._serve, args=(behaviour,), daemon=True)
        self.thread.start()

    def _serve(self, behaviour):
        connection, _ = self.listener.accept()
        try:
            behaviour(connection, self.heard)
        except OSError:
            pass
        self.done.wait(30)
        try:  # what a server that stopped reading would have read next
            connection.setblocking(False)
            while chunk := connection.recv(65536):
                self.heard.extend(chunk)
        except OSError:
            pass
        connection.close()

    def stop(self):
        """Ends the connection once the client is done, and keeps what it sent last."""
        self.done.set()
        self.thread.join(5)
        self.listener.close()


def listen_to_the_end(connection, heard):
    while chunk := connection.recv(4096):
        heard.extend(chunk)


def answer(reply):
    """Takes the client's first words, answers with reply, then listens until it closes."""
    def behaviour(connection, heard):
        heard.extend(connection.recv(4096))
        connection.sendall(reply)
        listen_to_the_end(connection, heard)
    return behaviour


def acknowledging(baud):
    """A com port server that confirms every setting but the baud rate, which it names as baud."""
    def behaviour(connection, heard):
        heard.extend(connection.recv(4096))
        connection.sendall(bytes([IAC, DO, COM_PORT, IAC, DO, 0]))
        requests = b""
        while requests.count(bytes([IAC, SE])) < 5:
            requests += connection.recv(4096)
        heard.extend(requests)
        for command, value in ((5, b"\x01"), (1, baud.to_bytes(4, "big")), (2, b"\x08"),
                               (3, b"\x01"), (4, b"\x01")):
            connection.sendall(bytes([IAC, SB, COM_PORT, command + 100]) + value
                               + bytes([IAC, SE]))
        listen_to_the_end(connection, heard)
    return behaviour


def stops_reading(connection, heard):
    heard.extend(connection.recv(4096))
    connection.sendall(bytes([IAC, DO, COM_PORT, IAC, DO, 0]))


def endless_subnegotiation(connection, heard):
    connection.sendall(bytes([IAC, SB, COM_PORT]))
    while True:
        connection.sendall(b"A" * 65536)


def closes_early(connection, heard):
    heard.extend(connection.recv(4096))
    connection.close()


def raw_accepter(connection, heard):
    listen_to_the_end(connection, heard)
    connection.close()


def broken_server_rows():
    """name, behaviour, the message's end, whether what was heard must end in a purge."""
    within = "within 5 seconds"
    return [
        ("refuses the option", answer(bytes([IAC, DONT, COM_PORT])),
         "refuses the com port option (RFC 2217) that sets the far port's line, so nothing was "
         "sent", False),
        ("acknowledges 9600: nothing sent, the far buffer purged", acknowledging(9600),
         "set the baud rate to 9600 instead of 2400, so nothing was sent", True),
        ("never answers", listen_to_the_end,
         f"did not answer the telnet negotiation {within}; a server that sends no telnet at all "
         "takes socket:// instead", False),
        ("stops reading after taking the option", stops_reading,
         f"did not confirm the baud rate, the data size, the parity, the stop size {within}",
         True),
        ("sends garbage", answer(b"SSH-2.0-OpenSSH_9.2\r\n" + bytes(range(0, 255)) * 40),
         f"did not answer the telnet negotiation {within}; a server that sends no telnet at all "
         "takes socket:// instead", False),
        ("an endless subnegotiation", endless_subnegotiation,
         f"did not confirm the com port option, binary transmission {within}", False),
        ("closes early", closes_early,
         "closed the connection before the far port was set up", False),
    ]


# ser2net empties the far port's queues as it ends a session, once the port counts nothing still to
# send. A real port counts its queue; a pseudo-terminal counts nothing, yet loses what the kernel
# has not yet passed to its other side, so on a busy machine a frame ser2net wrote may never arrive.
LOST_BY_THE_TERMINAL_TRIES = 5


def ser2net_rows(ostrim, check, folder, far_end):
    written = os.path.join(folder, "written")
    open(written, "wb").close()
    ser2net, port = start_ser2net(folder, far_end.path, trace=written)
    rows = 0

    def press(arguments):
        """ostrim's outcome, what arrived, and what ser2net wrote to the far port meanwhile."""
        before = os.path.getsize(written)
        outcome = ostrim("--device", f"rfc2217://127.0.0.1:{port}", *arguments)
        arrived = far_end.take(2)
        with open(written, "rb") as trace:
            trace.seek(before)
            return outcome, arrived, trace.read().hex(" ")

    try:
        for name, arguments, frame in [
                ("rfc2217: 07 A0 at 2400 8N1", SEND, "07 a0"),
                ("rfc2217: address 255 all on, FF doubled on the way", ["--address", "255", "--on",
                                                                        "1,2,3,4"], "ff f0")]:
            for _ in range(LOST_BY_THE_TERMINAL_TRIES):
                outcome, arrived, wrote = press(arguments)
                if (outcome, arrived[0], wrote) != ((0, ""), "nothing", frame):
                    break
            else:
                print(f"skipped {name}: each time ser2net wrote the frame to the far port, and the "
                      "pseudo-terminal lost it as ser2net ended the session")
                continue
            check(name, outcome, (0, ""))
            check(f"{name}: at the far port", arrived, (frame, "2400 N81"))
            rows += 1
    finally:
        ser2net.terminate()
        ser2net.wait()
    return rows


def network_rows(ostrim, check, folder):
    rows = ser2net_rows(ostrim, check, folder, FarEnd())
    accepter = OwnServer(raw_accepter)
    check("socket://: a raw accepter", ostrim("--device", f"socket://127.0.0.1:{accepter.port}",
                                              *SEND), (0, ""))
    accepter.stop()
    check("socket://: what it took", bytes(accepter.heard).hex(" "), "07 a0")

    refused = f"rfc2217://127.0.0.1:{free_port()}"
    check("refused", ostrim("--device", refused, *SEND),
          (1, f"ostrim: {refused} refused the connection: nothing listens on port "
              f"{refused.rsplit(':', 1)[1]}\n"))
    check("malformed: a usage error", ostrim("--device", "rfc2217://127.0.0.1", *SEND)[0], 2)
    return rows + 4


def broken_rows(ostrim, check):
    for name, behaviour, message, purged in broken_server_rows():
        server = OwnServer(behaviour)
        address = f"rfc2217://127.0.0.1:{server.port}"
        check(name, ostrim("--device", address, *SEND), (1, f"ostrim: {address} {message}\n"))
        server.stop()
        heard = bytes(server.heard)
        check(f"{name}: no frame sent", b"\x07\xa0" in heard, False)
        check(f"{name}: purged", heard.endswith(PURGE_TRANSMIT), purged)
    return len(broken_server_rows())


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
                (DNS_SILENT, f"the name {DNS_SILENT} was not looked up within 5 seconds"),
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
    with tempfile.TemporaryDirectory() as folder:
        rows = network_rows(ostrim, check, folder) + broken_rows(ostrim, check)
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
