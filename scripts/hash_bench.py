#!/usr/bin/env python3
"""First-search speed and readiness with big hash tables, through the UCI pipe.

For every engine and Hash size a fresh process is started; the script times
"uci" to "uciok", "setoption name Hash" to "readyok", one search of a middle
game position right after that (its last reported nps), and "ucinewgame" to
"readyok".  Speeds are also printed as ratios to the same engine at the
first size given.  Not part of the test suite: it measures the machine.

    scripts/hash_bench.py [--sizes 64,1024,4096] [--movetime 3000]
                          [--threads 1] ENGINE [ENGINE...]

Only one engine runs at a time, so the largest table exists once.
"""
import argparse
import os
import select
import subprocess
import sys
import time

FEN = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 0 9"


class Engine:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.buffer = b""
        self.start = time.monotonic()

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def until(self, prefix, timeout=120.0):
        """Lines up to the first that starts with prefix."""
        lines = []
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while True:
            while b"\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\n", 1)
                lines.append(line.decode(errors="replace").strip())
                if lines[-1].startswith(prefix):
                    return lines
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise TimeoutError(f"no '{prefix}' within {timeout} s")
            chunk = os.read(fd, 65536)
            if not chunk:
                raise EOFError(f"engine ended before '{prefix}'")
            self.buffer += chunk

    def timed(self, commands, prefix):
        t = time.monotonic()
        for c in commands:
            self.send(c)
        lines = self.until(prefix)
        return time.monotonic() - t, lines

    def close(self):
        try:
            self.send("quit")
            self.proc.wait(timeout=30)
        except Exception:
            self.proc.kill()
            self.proc.wait()


def last_nps(lines):
    nps = 0
    for line in lines:
        words = line.split()
        if words[:1] == ["info"] and "nps" in words:
            nps = int(words[words.index("nps") + 1])
    return nps


def measure(path, mb, movetime, threads):
    e = Engine(path)
    try:
        e.send("uci")
        e.until("uciok")
        uciok = time.monotonic() - e.start
        e.timed([f"setoption name Threads value {threads}", "isready"], "readyok")
        ready, _ = e.timed([f"setoption name Hash value {mb}", "isready"], "readyok")
        e.send(f"position fen {FEN}")
        _, lines = e.timed([f"go movetime {movetime}"], "bestmove")
        nps = last_nps(lines)
        newgame, _ = e.timed(["ucinewgame", "isready"], "readyok")
        return {"uciok": uciok, "ready": ready, "nps": nps, "newgame": newgame}
    finally:
        e.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="64,1024,4096")
    ap.add_argument("--movetime", type=int, default=3000)
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("engines", nargs="+")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    print(f"{'engine':28} {'Hash':>6} {'uciok s':>8} {'readyok s':>10} {'nps':>10} {'ratio':>6} {'newgame s':>10}")
    for path in args.engines:
        base = None
        for mb in sizes:
            r = measure(path, mb, args.movetime, args.threads)
            base = base or r["nps"] or 1
            print(f"{path[-28:]:28} {mb:>6} {r['uciok']:>8.3f} {r['ready']:>10.3f} {r['nps']:>10} "
                  f"{r['nps'] / base:>6.2f} {r['newgame']:>10.3f}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
