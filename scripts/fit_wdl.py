#!/usr/bin/env python3
"""Fits the win/draw/loss model of the UCI wdl output to scored engine games.

Reads PGN games whose moves carry "{+0.35/14 0.52s}" comments (score in pawns
from the mover's view), pairs every scored position with the game's result
from the mover's view and fits, by maximum likelihood,

    W(s) = 1 / (1 + exp(-(s - a) / b))
    L(s) = 1 / (1 + exp(-(-s - a) / b))
    D(s) = 1 - W(s) - L(s)

with s in centipawns.  Mate scores and scores beyond +-CLIP are left out (the
engine answers those without the model).  Prints a and b and the mean
log-likelihood per position against a constant-share baseline.

    python3 scripts/fit_wdl.py ../shared/testdata/pgn/engine-games.pgn
"""
import math
import re
import sys

CLIP = 1500  # centipawns
SCORE = re.compile(r"\{\s*([+-]?\d+\.\d+)/\d+")
RESULT = re.compile(r'\[Result "([^"]+)"\]')


def samples(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    for game in re.split(r"\n(?=\[Event )", text):
        m = RESULT.search(game)
        if not m or m.group(1) not in ("1-0", "0-1", "1/2-1/2"):
            continue
        white = {"1-0": 1, "0-1": -1, "1/2-1/2": 0}[m.group(1)]
        body = game[game.rfind("]") + 1:]
        # Each comment follows a move; comments alternate with the mover, so
        # count plies by move tokens before each comment.
        ply = 0
        pos = 0
        for tok in re.finditer(r"\{[^}]*\}|\d+\.(\.\.)?|[^\s{}]+", body):
            t = tok.group(0)
            if t.startswith("{"):
                s = SCORE.match(t)
                if s and ply > 0:
                    cp = round(float(s.group(1)) * 100)
                    mover_white = ply % 2 == 1
                    res = white if mover_white else -white
                    if abs(cp) <= CLIP:
                        yield cp, res
            elif re.fullmatch(r"\d+\.(\.\.)?", t) or t in ("1-0", "0-1", "1/2-1/2", "*"):
                continue
            else:
                ply += 1


def shares(s, a, b):
    w = 1 / (1 + math.exp(-(s - a) / b))
    l = 1 / (1 + math.exp(-(-s - a) / b))
    return w, max(1e-9, 1 - w - l), l


def loglik(data, a, b):
    total = 0.0
    for s, r in data:
        w, d, l = shares(s, a, b)
        total += math.log(max(1e-12, w if r > 0 else l if r < 0 else d))
    return total / len(data)


def fit(data):
    # Coordinate search on (a, b), shrinking the step: two parameters and a
    # smooth, well-conditioned likelihood need nothing more elaborate.
    a, b, step = 100.0, 100.0, 64.0
    best = loglik(data, a, b)
    while step > 0.01:
        improved = False
        for da, db in ((step, 0), (-step, 0), (0, step), (0, -step)):
            if b + db <= 1:
                continue
            v = loglik(data, a + da, b + db)
            if v > best:
                a, b, best, improved = a + da, b + db, v, True
        if not improved:
            step /= 2
    return a, b, best


def main():
    data = [x for path in sys.argv[1:] for x in samples(path)]
    n = len(data)
    wins = sum(1 for _, r in data if r > 0)
    losses = sum(1 for _, r in data if r < 0)
    draws = n - wins - losses
    base = sum(c * math.log(c / n) for c in (wins, draws, losses) if c) / n
    a, b, ll = fit(data)
    print(f"positions {n} (mover wins {wins}, draws {draws}, losses {losses})")
    print(f"a = {a:.1f} cp, b = {b:.1f} cp")
    print(f"mean log-likelihood {ll:.4f} (constant shares {base:.4f})")
    for s in (0, 50, 100, 200, 300, 500):
        w, d, l = shares(s, a, b)
        print(f"  {s:4d} cp: W {w*1000:.0f} D {d*1000:.0f} L {l*1000:.0f}")


if __name__ == "__main__":
    main()
