#!/usr/bin/env python3
"""Writes examples/frames.csv: a short production sequence for the offline judge.

Frames 0-1: empty fixture; 2-5: a good panel; 6-10: a faulty panel (one node reading
high, one dead node); 11-12: a good panel again. 32 rows (X lines) x 52 columns (Y lines).
"""
import random
import sys

ROWS, COLS = 32, 52


def frame(level, rng, faults=()):
    values = [[int(level + 8 * x + 5 * y + rng.gauss(0, 60)) for y in range(COLS)] for x in range(ROWS)]
    for x, y, v in faults:
        values[x][y] = v
    return values


def main(path):
    rng = random.Random(2026)
    frames = []
    frames += [frame(2000, rng) for _ in range(2)]
    frames += [frame(29600, rng) for _ in range(4)]
    frames += [frame(29600, rng, faults=[(12, 20, 34000), (25, 40, 0)]) for _ in range(5)]
    frames += [frame(29600, rng) for _ in range(2)]
    with open(path, "w", newline="\r\n") as out:
        for i, f in enumerate(frames):
            if i:
                out.write("\n")
            for row in f:
                out.write(",".join(str(v) if v else "" for v in row) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/frames.csv")
