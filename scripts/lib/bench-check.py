#!/usr/bin/env python3
"""Does a new benchmark run reproduce the README's figures?

Usage: bench-check.py README.md NEW.md   (NEW.md: what scripts/bench.sh or
scripts/bench-process.sh printed)

Every figure of NEW.md written "median (min-max)" (and the p99 of a timing
error, "p50/p99/max ms (p99 min-max)") is looked up in the README table row
of the same label (the n-th row of a label with the n-th) and the same
column. The claims are the figures that do not depend on how fast the machine
runs that day: ratios to a baseline of the same run, counts (memory, wake-ups,
lines and paints per second at a set rate) and timing errors, except the few
in NOT_CLAIMS that depend on the machine all the same (a baseline that cannot
keep up, pages the page cache happens to hold, the memory's pace). A claim
reproduces when its median lies inside the README's spread; each that does
not is printed, and the exit status is 1 if any did not.

Ratios hold for one machine: vector code and system calls cost differently
on another processor or hypervisor, so when the "Machine:" lines of the two
files differ that is said first. If docs/bench/ beside the README holds a
reference of the run's own processor (its "Machine:" line the same but for
the kernel), the run is checked against that instead; otherwise the README's
way to re-measure makes a reference on the new machine.

Times and rates are the machine's pace: they are listed with their factor
against the README's median, and the median of those factors says how fast
this run's machine was, but they decide nothing.
"""
import os
import re
import statistics
import sys

# The timing errors, "p50/p99/max ms (p99 min-max)": the p99 is the figure.
ERRORS = re.compile(r"[0-9.]+/([0-9.]+)/[0-9.]+ ms \(p99 ([0-9.]+)\s*[–-]\s*([0-9.]+)\)")
FIGURE = re.compile(r"([0-9][0-9 ,.]*?)\s*([a-zA-Zµ%]*)\s*\(([0-9][0-9 ,.]*)\s*[–-]\s*([0-9][0-9 ,.]*)\)\s*([a-zA-Zµ%]*)")
RATIO = re.compile(r"\bratio\b")
COUNTS = ("B", "kB", "MB", "MiB")
COUNTED = ("wake-ups", "lines shown per second", "paints per second")
# Figures shown beside the claims that are the machine's, not the program's,
# by row label and column (1 the subject or the first size, 2 the baseline
# or the second, 3 the ratio or the third); a miss there decides nothing.
NOT_CLAIMS = {
    # The bare view cannot keep up with 10 000 lines a second (it takes a
    # whole core): what it shows and paints is how fast the machine is, and
    # so is every ratio to it.
    "sustained 10 000 lines/s, lines shown per second": (2, 3),
    "CPU for it (cores)": (3,),
    "paints per second": (2, 3),
    # Of a small C loop's 1.4 MiB resident, about 100 kB is its own; the rest
    # is the C library's pages, mapped in as far as the page cache holds them.
    "idle: resident memory": (2, 3),
    # From 100 000 lines on, the bare pass reads at the memory's pace, one of
    # two by the start of the program: it is there to tell the memory's share
    # from the encoder's, not the same job.
    "ratio a megabyte at a time / one pass": (2, 3),
    "ratio one block / one pass": (2, 3),
    # The safe save against dd at 100 000 lines (the saving table's "ratio"
    # row): what it adds there, the temporary file, the rename and the
    # folder's sync (about 0.3 ms, as at 10 000 lines), is less than the
    # host's flush of 6 MB drifts from one hour to the next. At 10 000 lines
    # the added work and at 1 000 000 the writing itself decide, and hold.
    "ratio": (2,),
}


def number(text):
    return float(text.replace(" ", "").replace(",", ""))


def rows(path):
    """(label, n) -> (cells, header) for every table row of a Markdown file."""
    out, seen, header, previous = {}, {}, [], ""
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.startswith("|"):
                previous = ""
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if line.startswith("|---"):
                header = previous
                continue
            previous = cells
            n = seen.get(cells[0], 0)
            seen[cells[0]] = n + 1
            out[(cells[0], n)] = (cells[1:], header[1:] if header else [])
    return out


def machine_line(path):
    with open(path, encoding="utf-8") as f:
        return next((line.strip()[len("Machine: "):].rstrip(".") for line in f if line.startswith("Machine: ")), None)


def processor(machine):
    """A machine line without its kernel: a kernel update moves system call
    costs a little, a processor or hypervisor moves everything."""
    return machine.split(", Linux ")[0] if machine else None


def own_reference(readme_path, machine):
    folder = os.path.join(os.path.dirname(os.path.abspath(readme_path)), "docs", "bench")
    if not machine or not os.path.isdir(folder):
        return None
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name.endswith(".md") and processor(machine_line(path)) == processor(machine):
            return path
    return None


def is_claim(label, column_head, unit):
    return (RATIO.search(label) or RATIO.search(column_head) or "/" in column_head or unit in COUNTS
            or any(word in label for word in COUNTED))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    reference = sys.argv[1]
    was, now = machine_line(reference), machine_line(sys.argv[2])
    if was != now:
        print(f"another machine: the README was measured on \"{was or 'a machine it does not name'}\", "
              f"this run on \"{now or 'a machine it does not name'}\"")
        own = own_reference(reference, now) if processor(was) != processor(now) else None
        if own:
            reference, was = own, machine_line(own)
            print(f"checked against this processor's own reference, {os.path.relpath(own)}"
                  + (f" (measured on \"{was}\")" if was != now else ""))
        else:
            print("its ratios may differ: compare this machine with itself")
    readme, new = rows(reference), rows(sys.argv[2])
    inside = outside = 0
    pace = []
    for key, (cells, head) in new.items():
        old_cells = readme.get(key, ([], []))[0]
        for column, (old, now) in enumerate(zip(old_cells, cells)):
            if column + 1 in NOT_CLAIMS.get(key[0], ()):
                continue
            was, fig = ERRORS.search(old), ERRORS.search(now)
            if was and fig:
                median, low, high = fig.group(1), was.group(2), was.group(3)
            else:
                was, fig = FIGURE.search(old), FIGURE.search(now)
                if not was or not fig:
                    continue
                head_text = head[column] if column < len(head) else ""
                median, low, high = fig.group(1), was.group(3), was.group(4)
                if not is_claim(key[0], head_text, fig.group(2) or fig.group(5)):
                    base = number(was.group(1))
                    if base > 0:
                        held = number(low) <= number(median) <= number(high)
                        pace.append((number(median) / base, held))
                    continue
            if number(low) <= number(median) <= number(high):
                inside += 1
            else:
                outside += 1
                print(f"outside: {key[0]} (column {column + 1}): reference {old}, now {now}")
    print(f"{inside} of {inside + outside} claims inside the reference's spread")
    if pace:
        factors = [p[0] for p in pace]
        held = sum(1 for p in pace if p[1])
        print(f"times and rates (the machine's pace, not claims): {held} of {len(pace)} inside the reference's "
              f"spread; now / reference median {statistics.median(factors):.2f} "
              f"(from {min(factors):.2f} to {max(factors):.2f})")
    return 1 if outside else 0


if __name__ == "__main__":
    sys.exit(main())
