#!/usr/bin/python3
"""One press over rfc2217:// and one over socket:// to ser2nets on 127.0.0.1, by the network line
and by pyserial's own clients, side by side in one run against the same servers: open (with the far
port set to 2400 8N1 for rfc2217://), write the two bytes, close. The far ports are
pseudo-terminals emptied on a thread.

Usage: network_press.py NETWORK_PRESS [CYCLES]. Prints "figure" lines that bench/run.sh reads,
then the same in words.
"""
import os
import pty
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import serial

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from ser2net import start_ser2net  # noqa: E402

FRAME = bytes([0x07, 0xA0])


def drain(master):
    while True:
        try:
            os.read(master, 4096)
        except OSError:
            return


def pyserial_press(url):
    # ser2net does not confirm the modem lines of a far port that has none, and pyserial's client
    # waits for that confirmation unless told not to, as its documentation advises.
    if url.startswith("rfc2217"):
        url += "?ign_set_control"
    port = serial.serial_for_url(url, baudrate=2400, bytesize=serial.EIGHTBITS,
                                 parity=serial.PARITY_NONE, stopbits=serial.STOPBITS_ONE)
    port.write(FRAME)
    port.flush()
    port.close()


def one_scheme(network_press, cycles, folder, raw):
    master, slave = pty.openpty()
    threading.Thread(target=drain, args=(master,), daemon=True).start()
    server, port = start_ser2net(folder, os.ttyname(slave), raw=raw)
    scheme = "socket" if raw else "rfc2217"
    url = f"{scheme}://127.0.0.1:{port}"
    try:
        ours = subprocess.run([network_press, url, str(cycles)], capture_output=True,
                              text=True, check=True).stdout
        for _ in range(min(cycles, 20)):
            pyserial_press(url)
        times = []
        for _ in range(cycles):
            start = time.perf_counter()
            pyserial_press(url)
            times.append(time.perf_counter() - start)
    finally:
        server.terminate()
        server.wait()
    median, mean = statistics.median(times) * 1e6, statistics.fmean(times) * 1e6
    print(ours, end="")
    print(f"figure pyserial_{scheme}_median_us {median:.1f}")
    print(f"figure pyserial_{scheme}_mean_us {mean:.1f}")
    print(f"pyserial {serial.__version__} {scheme}: {cycles} presses, median {median:.1f} us, "
          f"mean {mean:.1f} us")


def main():
    network_press = sys.argv[1]
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    with tempfile.TemporaryDirectory() as folder:
        for raw in (False, True):
            one_scheme(network_press, cycles, folder, raw)


if __name__ == "__main__":
    main()
