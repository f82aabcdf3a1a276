#!/usr/bin/env python3
"""Does a new benchmark run reproduce the README's figures?

Usage: bench-check.py README.md NEW.md   (NEW.md: what scripts/bench.sh or
scripts/bench-process.sh printed)

Every figure of NEW.md written "median (min-max)" (and the p99 of a timing
error, "p50/p99/max ms (p99 min-max)") is looked up in the README
table row of the same label (the n-th row of a label with the n-th) and the
same column; it reproduces when its median lies inside the README's spread.
Prints each figure that does not, and a count; exits 1 if any did not.
"""
import re
import sys

# The timing errors, "p50/p99/max ms (p99 min-max)": the p99 is the figure.
ERRORS = re.compile(r"[0-9.]+/([0-9.]+)/[0-9.]+ ms \(p99 ([0-9.]+)\s*[–-]\s*([0-9.]+)\)")
FIGURE = re.compile(r"([0-9][0-9 ,.]*?)\s*[a-zA-Zµ%]*\s*\(([0-9][0-9 ,.]*)\s*[–-]\s*([0-9][0-9 ,.]*)\)")


def number(text):
    return float(text.replace(" ", "").replace(",", ""))


def rows(path):
    out, seen = {}, {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.startswith("|") or line.startswith("|---"):
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            n = seen.get(cells[0], 0)
            seen[cells[0]] = n + 1
            out[(cells[0], n)] = cells[1:]
    return out


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    readme, new = rows(sys.argv[1]), rows(sys.argv[2])
    inside = outside = 0
    for key, cells in new.items():
        for column, (old, now) in enumerate(zip(readme.get(key, []), cells), 1):
            was, fig = ERRORS.search(old), ERRORS.search(now)
            if not was or not fig:
                was, fig = FIGURE.search(old), FIGURE.search(now)
            if not was or not fig:
                continue
            if number(was.group(2)) <= number(fig.group(1)) <= number(was.group(3)):
                inside += 1
            else:
                outside += 1
                print(f"outside: {key[0]} (column {column}): README {old}, now {now}")
    print(f"{inside} of {inside + outside} figures inside the README's spread")
    return 1 if outside else 0


if __name__ == "__main__":
    sys.exit(main())
