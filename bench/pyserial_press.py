#!/usr/bin/python3
"""One press written with pyserial, for comparison with the line's own: open a pseudo-terminal at
2400 8N1 with an exclusive claim, write the two bytes, wait until they have left, close.

Usage: pyserial_press.py [CYCLES]. Prints the per-press median and mean in microseconds, as
"figure pyserial_median_us N" lines that bench/run.sh reads, then the same in words.
"""
import os
import statistics
import sys
import threading
import time

import serial

FRAME = bytes([0x07, 0xA0])


def drain(master, stop):
    """The board's side, emptied on a thread of its own so the output queue never fills. It looks
    every few milliseconds, as the C++ benchmark's does: a reader woken by every frame would take
    the processor from the press being measured."""
    os.set_blocking(master, False)
    while not stop.wait(0.005):
        try:
            while os.read(master, 4096):
                pass
        except BlockingIOError:
            pass


def press(device):
    port = serial.Serial(device, baudrate=2400, bytesize=serial.EIGHTBITS,
                         parity=serial.PARITY_NONE, stopbits=serial.STOPBITS_ONE,
                         exclusive=True)
    port.write(FRAME)
    port.flush()
    port.close()


def main():
    cycles = int(sys.argv[1]) if len(sys.argv) > 1 else 5000
    master, slave = os.openpty()  # the slave stays open, so the terminal lives between presses
    device = os.ttyname(slave)
    stop = threading.Event()
    reader = threading.Thread(target=drain, args=(master, stop))
    reader.start()
    try:
        for _ in range(min(cycles, 100)):  # imports and caches settle first
            press(device)
        times = []
        for _ in range(cycles):
            start = time.perf_counter()
            press(device)
            times.append(time.perf_counter() - start)
    finally:
        stop.set()
        reader.join()
        os.close(slave)
        os.close(master)
    median = statistics.median(times) * 1e6
    mean = statistics.fmean(times) * 1e6
    print(f"figure pyserial_median_us {median:.1f}")
    print(f"figure pyserial_mean_us {mean:.1f}")
    print(f"pyserial {serial.__version__}, Python {sys.version.split()[0]}: {cycles} presses, "
          f"median {median:.1f} us, mean {mean:.1f} us")


if __name__ == "__main__":
    main()
