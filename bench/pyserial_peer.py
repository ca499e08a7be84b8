#!/usr/bin/python3
"""pyserial as a peer of the component's benchmarks (see Peers.h for what it is asked and what
it answers). Two ways a Python program reads a port:
  --variant thread    a reader thread doing blocking read()s into a queue.Queue, the main
                      thread taking from it (a program with a main loop of its own);
  --variant blocking  a plain blocking read(1) on the main thread.
Both latency methods of bench_latency: with --master-fd, ByteChain.h's (the code that receives a
byte sleeps the gap and writes the next one to the pty's master itself); with --arrivals-fd,
ArrivalLog.h's (the bytes arrive on their own; the main thread notes when it got each and counts
it in the shared page the device side watches)."""

import mmap
import os
import queue
import resource
import select
import struct
import sys
import threading
import time

GAP_S = 0.0005


def option(name, fallback=None):
    args = sys.argv[1:]
    for i in range(len(args) - 1):
        if args[i] == "--" + name:
            return args[i + 1]
    return fallback


def cost():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_nvcsw, int((usage.ru_utime + usage.ru_stime) * 1e9)


def open_port(path):
    import serial  # python3-serial; imported here so that its absence is a SKIP, not a crash
    return serial.Serial(path, baudrate=115200, bytesize=8, parity="N", stopbits=1, timeout=None)


def write_byte(master):
    while True:
        try:
            if os.write(master, b"a") == 1:
                return
        except BlockingIOError:  # the master is non-blocking, shared with the harness
            select.select([], [master], [])


def start_reader(port, into):
    def read():
        try:
            while True:
                into.put(port.read(port.in_waiting or 1))
        except Exception:  # the port closed under it at the end: the series is over
            into.put(None)
    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    return reader


def answered(receive, master, samples, warmup):
    latencies = []
    before = None
    for i in range(warmup + samples):
        if i == warmup:
            before = cost()
        if i > 0:
            time.sleep(GAP_S)
        sent = time.monotonic_ns()
        write_byte(master)
        if not receive():
            sys.exit("pyserial: the port closed after %d bytes" % i)
        arrived = time.monotonic_ns()
        if i >= warmup:
            latencies.append(arrived - sent)
    return ["SAMPLE %d" % ns for ns in latencies], cost(), before


def on_their_own(receive, counter, samples, warmup):
    """As ArrivalLog.h: the meter runs from the handling of the last warmup byte to that of the
    last sampled one; each arrival is counted after it was noted."""
    total = warmup + samples
    arrivals = []
    before = cost() if warmup == 0 else None
    after = None
    print("READY", flush=True)
    for i in range(total):
        if not receive():
            sys.exit("pyserial: the port closed after %d bytes" % i)
        now = time.monotonic_ns()
        if i >= warmup:
            arrivals.append(now)
        if i + 1 == total:
            after = cost()
        elif i + 1 == warmup:
            before = cost()
        struct.pack_into("<q", counter, 0, i + 1)
    return ["ARRIVED %d" % ns for ns in arrivals], after, before


def latency(port, variant):
    samples, warmup = int(option("samples")), int(option("warmup"))
    inbox = queue.Queue()
    if variant == "thread":
        start_reader(port, inbox)
        receive = inbox.get
    else:
        receive = lambda: port.read(1)  # noqa: E731
    if option("master-fd") is not None:
        out, after, before = answered(receive, int(option("master-fd")), samples, warmup)
    else:
        counter = mmap.mmap(int(option("arrivals-fd")), 8)
        out, after, before = on_their_own(receive, counter, samples, warmup)
    out.append("COST %d %d" % (after[0] - before[0], after[1] - before[1]))
    print("\n".join(out), flush=True)


def throughput(port):
    total = int(option("bytes"))
    inbox = queue.Queue()
    before = cost()
    start_reader(port, inbox)
    print("READY", flush=True)
    received = calls = 0
    while received < total:
        chunk = inbox.get()
        if not chunk:
            sys.exit("pyserial: %d of %d bytes arrived" % (received, total))
        received += len(chunk)
        calls += 1
    after = cost()
    print("RUN %d %d %d %d" % (received, calls, after[0] - before[0], after[1] - before[1]),
          flush=True)


def main():
    mode = "latency" if "latency" in sys.argv[1:] else "throughput"
    variant, slave = option("variant", "thread"), option("slave")
    try:
        port = open_port(slave)
    except ImportError:
        print("SKIP python3-serial is not installed", flush=True)
        return
    if mode == "latency":
        latency(port, variant)
    else:
        throughput(port)
    port.close()


if __name__ == "__main__":
    main()
