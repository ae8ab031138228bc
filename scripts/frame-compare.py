#!/usr/bin/env python3
"""Compares two frame records (scripts/frame-record.sh): for each program,
the requests each simulated module heard, as a multiset of sequences (the
order of processes and threads aside), and the gaps between requests (median
and 90th percentile) beside each other. Exit 0 when every program's frames
are equal."""
import collections
import os
import statistics
import sys


def load(folder):
    runs = collections.defaultdict(list)  # program -> [sequence of frames]
    gaps = collections.defaultdict(list)  # program -> [gap in us]
    for name in sorted(os.listdir(folder)):
        program = name.rsplit(".", 1)[0]
        modules = collections.defaultdict(list)
        with open(os.path.join(folder, name)) as f:
            for line in f:
                parts = line.split()
                if len(parts) != 3:
                    continue
                module, gap, frame = parts
                modules[int(module)].append(frame)
                if int(gap) > 0:
                    gaps[program].append(int(gap))
        for module in sorted(modules):
            runs[program].append(tuple(modules[module]))
    return runs, gaps


def figures(values):
    if not values:
        return "-"
    values = sorted(values)
    p90 = values[min(len(values) - 1, int(len(values) * 0.9))]
    return "%.1f/%.1f ms" % (statistics.median(values) / 1000, p90 / 1000)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    a, a_gaps = load(sys.argv[1])
    b, b_gaps = load(sys.argv[2])
    differ = 0
    for program in sorted(set(a) | set(b)):
        sa = collections.Counter(a.get(program, []))
        sb = collections.Counter(b.get(program, []))
        frames_a = sum(len(s) for s in a.get(program, []))
        frames_b = sum(len(s) for s in b.get(program, []))
        same = sa == sb
        differ += not same
        print("%-6s %-40s %7d %7d frames  gaps %s | %s" % (
            "equal" if same else "DIFFER", program, frames_a, frames_b,
            figures(a_gaps.get(program, [])), figures(b_gaps.get(program, []))))
        if not same:
            only_a = sum((sa - sb).values())
            only_b = sum((sb - sa).values())
            print("       %d module runs only in the first, %d only in the second" % (only_a, only_b))
            ra, rb = a.get(program, []), b.get(program, [])
            if len(ra) == len(rb):
                # In one process the modules are made in the same order: name
                # the ones that heard otherwise, and where they part.
                for i, (x, y) in enumerate(zip(ra, rb)):
                    if x != y:
                        at = next((k for k, (f, g) in enumerate(zip(x, y)) if f != g), min(len(x), len(y)))
                        print("       module %d: %d and %d requests, first apart at request %d (%s | %s)" % (
                            i + 1, len(x), len(y), at + 1, x[at] if at < len(x) else "-", y[at] if at < len(y) else "-"))
    print("%d of %d programs differ" % (differ, len(set(a) | set(b))))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
