#!/usr/bin/env python3
"""A hostile serial device server on loopback: RTU frames over TCP passed
between a master and an upstream RTU-over-TCP port (hv52sim --tcp P
--framing rtu), where a share of the answers is held a while and every
answer goes out a second time some milliseconds after its first delivery.

Requests from the master go upstream as they come. What comes back is cut
into whole answers (function 3 or 4: address, function, byte count, data,
CRC; an exception: 5 bytes; function 6 or 16: 8 bytes); each answer is
delivered at once or, with the chance --hold-share, held for a time drawn
from --hold-ms; then it is delivered again after a lag drawn from --copy-ms.
A held answer may therefore reach the master after answers that came later.
Each connection draws from its own generator, seeded from --seed and the
connection's number (0, 1, ...), so one run of a master sees the same
line whichever build it is.

Measurement (each valid value of a read through the proxy against a read
of the simulator without it):
  hv52sim --module t516 --tcp 5020 --framing rtu --no-demo --pace --baud 9600 \\
      --set 0x0E80=1 ... &
  python3 scripts/hostile-line.py 5021 127.0.0.1:5020 --seed 1 \\
      --hold-share 0.3 --hold-ms 310-450 --copy-ms 30-80 &
  hv52ctl --tcp 127.0.0.1:5020 --timeout 300 --json read t516   # the truth
  hv52ctl --tcp 127.0.0.1:5021 --timeout 300 --json read t516   # through the line
Standard library only. --log prints each answer's fate on standard error;
SIGINT or SIGTERM ends it with a count of what it did.
"""
import argparse
import asyncio
import random
import signal
import sys
import time


def span(text):
    lo, _, hi = text.partition("-")
    lo, hi = float(lo), float(hi or lo)
    if lo < 0 or hi < lo:
        raise argparse.ArgumentTypeError("expected LO-HI with 0 <= LO <= HI: %r" % text)
    return lo, hi


def share(text):
    value = float(text)
    if not 0 <= value <= 1:
        raise argparse.ArgumentTypeError("expected a share from 0 to 1: %r" % text)
    return value


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def answer_length(buf):
    """The length of the whole answer at the start of buf, 0 while more is
    needed; what cannot be an answer of these functions goes as it is."""
    if len(buf) < 2:
        return 0
    function = buf[1]
    if function & 0x80:
        length = 5
    elif function in (3, 4):
        if len(buf) < 3:
            return 0
        length = 5 + buf[2]
    elif function in (6, 16):
        length = 8
    else:
        return len(buf)
    if len(buf) < length:
        return 0
    frame = buf[:length]
    if crc16(frame[:-2]) != frame[-2] | frame[-1] << 8:
        return len(buf)  # not a frame we can cut: pass all that came whole
    return length


class Counts:
    def __init__(self):
        self.connections = 0
        self.answers = 0
        self.held = 0
        self.copies = 0

    def __str__(self):
        return "connections %d, answers %d, held %d, copies sent %d" % (
            self.connections, self.answers, self.held, self.copies)


async def serve(args, counts, master_reader, master_writer):
    number = counts.connections
    counts.connections += 1
    rng = random.Random("%d:%d" % (args.seed, number))
    host, _, port = args.upstream.rpartition(":")
    try:
        up_reader, up_writer = await asyncio.open_connection(host, int(port))
    except OSError as e:
        print("upstream %s: %s" % (args.upstream, e), file=sys.stderr)
        master_writer.close()
        return
    loop = asyncio.get_running_loop()
    start = loop.time()
    pending = set()

    def log(text):
        if args.log:
            print("[%d %8.1f ms] %s" % (number, (loop.time() - start) * 1000, text), file=sys.stderr)

    def deliver(frame, what):
        if master_writer.is_closing():
            return
        master_writer.write(frame)
        if what == "copy":
            counts.copies += 1
        log("%s out %s" % (what, frame.hex()))

    async def requests():
        while True:
            data = await master_reader.read(4096)
            if not data:
                break
            log("request %s" % data.hex())
            up_writer.write(data)
            await up_writer.drain()

    async def answers():
        buf = bytearray()
        while True:
            data = await up_reader.read(4096)
            if not data:
                break
            buf += data
            while True:
                length = answer_length(buf)
                if not length:
                    break
                frame = bytes(buf[:length])
                del buf[:length]
                counts.answers += 1
                hold = 0.0
                if rng.random() < args.hold_share:
                    hold = rng.uniform(*args.hold_ms)
                    counts.held += 1
                lag = rng.uniform(*args.copy_ms)
                log("answer %s: %s, copy %.0f ms after" % (
                    frame.hex(), "held %.0f ms" % hold if hold else "at once", lag))
                if hold:
                    pending.add(loop.call_later(hold / 1000, deliver, frame, "held"))
                else:
                    deliver(frame, "first")
                pending.add(loop.call_later((hold + lag) / 1000, deliver, frame, "copy"))

    tasks = [asyncio.ensure_future(requests()), asyncio.ensure_future(answers())]
    try:
        await asyncio.wait(tasks, return_when=asyncio.FIRST_COMPLETED)
    except ConnectionError:
        pass
    for t in tasks:
        t.cancel()
    for h in pending:
        h.cancel()
    up_writer.close()
    master_writer.close()
    log("closed")


async def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("port", type=int, help="port to listen on (127.0.0.1)")
    parser.add_argument("upstream", help="HOST:PORT of the RTU-over-TCP port behind")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--hold-share", type=share, default=0.3, help="share of answers held (0..1)")
    parser.add_argument("--hold-ms", type=span, default=(310, 450), help="hold, LO-HI ms, drawn per answer")
    parser.add_argument("--copy-ms", type=span, default=(30, 80),
                        help="the copy's lag after the answer went out, LO-HI ms")
    parser.add_argument("--log", action="store_true", help="each request and answer on standard error")
    args = parser.parse_args()
    counts = Counts()
    server = await asyncio.start_server(lambda r, w: serve(args, counts, r, w), "127.0.0.1", args.port)
    print("hostile line on 127.0.0.1:%d -> %s" % (args.port, args.upstream), flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for s in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(s, stop.set)
    async with server:
        await stop.wait()
    print(counts, file=sys.stderr, flush=True)


if __name__ == "__main__":
    asyncio.run(main())
