#!/usr/bin/env python3
"""First-search speed and readiness with big hash tables, through the UCI pipe.

For every engine and Hash size a fresh process is started; the script times
the start to "uciok", "setoption name Hash" to "readyok", one search of a
middle game position right after that (its last reported nps), and
"ucinewgame" to "readyok".  The speed is given twice: as the engine
reports it, and as nodes per second of processor time the engine used
(steadier on a machine shared with other work).  Each case runs --rounds
times, the engines taking turns; the best figures count.  Speeds are also
printed as ratios to the same engine at the first size given.  Not part of the test suite:
it measures the machine.

    scripts/hash_bench.py [--sizes 64,1024,4096] [--movetime 3000]
                          [--threads 1] [--rounds 3] ENGINE [ENGINE...]

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


def last_value(lines, key):
    value = 0
    for line in lines:
        words = line.split()
        if words[:1] == ["info"] and key in words:
            value = int(words[words.index(key) + 1])
    return value


def cpu_seconds(pid):
    """Processor time the process has used: unlike the wall clock, not
    stretched by whatever else the machine runs meanwhile."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(path, mb, movetime, threads):
    e = Engine(path)
    try:
        e.send("uci")
        e.until("uciok")
        uciok = time.monotonic() - e.start
        e.timed([f"setoption name Threads value {threads}", "isready"], "readyok")
        ready, _ = e.timed([f"setoption name Hash value {mb}", "isready"], "readyok")
        e.send(f"position fen {FEN}")
        cpu = cpu_seconds(e.proc.pid)
        _, lines = e.timed([f"go movetime {movetime}"], "bestmove")
        cpu = cpu_seconds(e.proc.pid) - cpu
        nps = last_value(lines, "nps")
        cpu_nps = int(last_value(lines, "nodes") / cpu) if cpu > 0 else 0
        newgame, _ = e.timed(["ucinewgame", "isready"], "readyok")
        return {"uciok": uciok, "ready": ready, "nps": nps, "cpu_nps": cpu_nps, "newgame": newgame}
    finally:
        e.close()


def best(runs):
    """The least disturbed of several runs: the fastest figure of each kind."""
    return {"uciok": min(r["uciok"] for r in runs), "ready": min(r["ready"] for r in runs),
            "nps": max(r["nps"] for r in runs), "cpu_nps": max(r["cpu_nps"] for r in runs),
            "newgame": min(r["newgame"] for r in runs)}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="64,1024,4096")
    ap.add_argument("--movetime", type=int, default=3000)
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--rounds", type=int, default=3, help="runs of each case; the best figures count")
    ap.add_argument("engines", nargs="+")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    runs = {}
    # Engines take turns within each round and size, so a change in the
    # machine's load touches them alike, and the order rotates from round to
    # round: memory the system has not handed out for a while (on a virtual
    # machine: memory given back to the host) costs much more to fault in,
    # and that cost falls on whoever first asks for more than the last run
    # freed.
    for round_ in range(args.rounds):
        order = args.engines[round_ % len(args.engines):] + args.engines[:round_ % len(args.engines)]
        for mb in sizes:
            for path in order:
                runs.setdefault((path, mb), []).append(measure(path, mb, args.movetime, args.threads))
    print(f"{'engine':26} {'Hash':>5} {'uciok s':>8} {'readyok s':>9} {'nps':>9} {'ratio':>5} "
          f"{'cpu nps':>9} {'ratio':>5} {'newgame s':>9}")
    for path in args.engines:
        base = best(runs[(path, sizes[0])])
        for mb in sizes:
            r = best(runs[(path, mb)])
            print(f"{path[-26:]:26} {mb:>5} {r['uciok']:>8.3f} {r['ready']:>9.3f} {r['nps']:>9} "
                  f"{r['nps'] / (base['nps'] or 1):>5.2f} {r['cpu_nps']:>9} "
                  f"{r['cpu_nps'] / (base['cpu_nps'] or 1):>5.2f} {r['newgame']:>9.3f}")


if __name__ == "__main__":
    sys.exit(main())
