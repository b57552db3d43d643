"""A real ser2net on 127.0.0.1 for the network line's tests and bench: its far port a device held
by the caller, at 9600 until a client sets it (or at 2400 for a raw accepter), nothing advertised
on the network."""
import os
import shutil
import socket
import subprocess
import sys
import time

# A daemon, in /usr/sbin, which an ordinary user's PATH on Debian does not name.
SER2NET = shutil.which("ser2net") or shutil.which("ser2net", path="/usr/sbin:/sbin")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_ser2net(folder, device, trace=None, raw=False):
    """The server and its port, once it takes connections. trace: a file to which ser2net appends
    every byte it writes to the far port, as it writes it. raw: a plain TCP accepter whose port is
    set to 2400 8N1 by the server, for socket://, instead of an RFC 2217 one."""
    port = free_port()
    config = os.path.join(folder, f"ser2net-{port}.yaml")
    accepter = "tcp" if raw else "telnet(rfc2217),tcp"
    with open(config, "w") as out:
        out.write(f"%YAML 1.1\n---\nconnection: &board\n"
                  f"  accepter: {accepter},127.0.0.1,{port}\n"
                  f"  connector: serialdev,{device},{'2400' if raw else '9600'}n81,local\n"
                  f"  options:\n    mdns: false\n"
                  + (f"    trace-write: {trace}\n" if trace else ""))
    server = subprocess.Popen([SER2NET, "-n", "-c", config, "-P", config + ".pid"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            time.sleep(0.2)  # that probe's own session ends first
            return server, port
        except OSError:
            time.sleep(0.05)
    server.kill()
    sys.exit("ser2net did not start")
