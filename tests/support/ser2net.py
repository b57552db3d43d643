"""A real ser2net on 127.0.0.1 for the network line's tests and bench: its far port a device held
by the caller, at 9600 until a client sets it, nothing advertised on the network."""
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


def start_ser2net(folder, device, trace=None):
    """The server and its port, once it takes connections. trace: a file to which ser2net appends
    every byte it writes to the far port, as it writes it."""
    port = free_port()
    config = os.path.join(folder, "ser2net.yaml")
    with open(config, "w") as out:
        out.write(f"%YAML 1.1\n---\nconnection: &board\n"
                  f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                  f"  connector: serialdev,{device},9600n81,local\n"
                  f"  options:\n    mdns: false\n"
                  + (f"    trace-write: {trace}\n" if trace else ""))
    server = subprocess.Popen([SER2NET, "-n", "-c", config, "-P", os.path.join(folder, "pid")],
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
