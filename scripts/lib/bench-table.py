#!/usr/bin/env python3
"""The README's benchmark tables from Google Benchmark JSON files.

Usage: bench-table.py DIR...   (each DIR holds q274_bench.json, q274_bench_chart.json,
q274_bench_save.json, q274_bench_logview.json and q274_bench_history.json, each run with
--benchmark_repetitions)

Several folders, one per run of the programs, are pooled: a figure is then
the median of all their repetitions and its spread covers the runs too, so
a difference between two starts of a program (where its memory lies, how
warm the machine is) shows in the spread rather than moving the median
outside it. Ratios still pair a subject with its baseline of the same run
and repetition.

Every figure is the median of the repetitions with their spread, "median
(min-max)". A ratio is taken repetition by repetition, the subject and its
baseline from the same run, and then summarised the same way. A benchmark
that did not run (filtered out, or failed) leaves "-".

bench-table.py --process FILE...: the table of scripts/bench-process.sh from
its windows, several files pooled, a line each: "LABEL SUBJECT CPU% CS/S
RSS_KB G50 G99 GMAX R50 R99 RMAX" (the grid and rotation errors in ms), or
"unconnected CPU% CS/S RSS_KB".
"""
import json
import os
import platform
import statistics
import subprocess
import sys

UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(folder, run=0, runs=None):
    runs = {} if runs is None else runs
    for name in ("q274_bench", "q274_bench_chart", "q274_bench_save", "q274_bench_logview", "q274_bench_history"):
        path = os.path.join(folder, name + ".json")
        if not os.path.exists(path):
            continue
        try:
            with open(path) as f:
                data = json.load(f)
        except ValueError:
            print(f"{path}: not a whole report, left out", file=sys.stderr)
            continue
        for b in data.get("benchmarks", []):
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            b["_run"] = run
            runs.setdefault(b["run_name"], []).append(b)
    return runs


RUNS = {}


class Series(list):
    """Values of one benchmark, each with the (run, repetition) it came from."""
    keys = ()


def values(bench, field="real_time"):
    """One value per repetition (seconds for times), run by run in repetition order."""
    out, keys = Series(), []
    for b in sorted(RUNS.get(bench, []), key=lambda b: (b["_run"], b.get("repetition_index", 0))):
        if field in ("real_time", "cpu_time"):
            out.append(b[field] * UNITS[b["time_unit"]])
        elif field in b:
            out.append(float(b[field]))
        else:
            continue
        keys.append((b["_run"], b.get("repetition_index", 0)))
    out.keys = tuple(keys)
    return out


def ratio(a, b):
    """Subject over baseline of the same run and repetition: a repetition one
    side lost (an error, a missing counter) drops out instead of shifting every
    pair after it."""
    if getattr(a, "keys", ()) and getattr(b, "keys", ()):
        base = dict(zip(b.keys, b))
        return [x / base[k] for k, x in zip(a.keys, a) if base.get(k, 0) > 0]
    return [x / y for x, y in zip(a, b) if y > 0]


def number(x):
    """Three significant digits, thin groups of thousands."""
    if x == 0:
        return "0"
    digits = max(0, 2 - int(f"{abs(x):e}".split("e")[1]))
    text = f"{x:,.{digits}f}".replace(",", " ")
    return text.rstrip("0").rstrip(".") if "." in text else text


def fig(vals, scale=1.0, unit=""):
    if not vals:
        return "-"
    v = [x * scale for x in vals]
    text = number(statistics.median(v))
    if len(v) > 1:
        text += f" ({number(min(v))}–{number(max(v))})"
    return text + (f" {unit}" if unit else "")


def machine():
    """One line naming the processor, its vector units, the hypervisor and
    the kernel: ratios of vector code and of system calls move between
    machines, so bench-check.py tells a run from another machine."""
    try:
        info = dict(line.split(":", 1) for line in subprocess.run(
            ["lscpu"], capture_output=True, text=True, check=True).stdout.splitlines() if ":" in line)
    except (OSError, subprocess.CalledProcessError):
        info = {}
    info = {k.strip(): v.strip() for k, v in info.items()}
    flags = info.get("Flags", "").split()
    vector = "AVX-512" if "avx512f" in flags else "AVX2" if "avx2" in flags else "SSE2"
    host = info.get("Hypervisor vendor")
    parts = [f"{info.get('Model name', platform.processor() or 'unknown')} (family "
             f"{info.get('CPU family', '?')}, model {info.get('Model', '?')})",
             f"{os.cpu_count()} CPUs", vector, f"{host} guest" if host else "no hypervisor",
             f"Linux {platform.release()}"]
    return "Machine: " + ", ".join(parts) + ".\n"


def table(head, rows):
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in rows:
        print("| " + " | ".join(r) + " |")
    print()


def hot_paths():
    """Each hot path beside the bare baseline doing the same job (bench/bench_bare.cpp)."""
    def row(what, name, bare, unit, scale):
        a, b = values(name), values(bare)
        return [what, fig(a, scale, unit), fig(b, scale, unit), fig(ratio(a, b))]
    print("Hot paths (`q274_bench`), each beside a bare baseline of the same job:\n")
    table(["what", "time per operation", "bare baseline", "ratio"], [
        row("an all-channel reply arriving in three reads, assembled into a line", "BM_ReplyAssembly",
            "BM_BareAssembly", "ns", 1e9),
        row("an all-channel reply split into four read-out texts (C)", "BM_AllChannelReadouts/0",
            "BM_BareReadouts/0", "ns", 1e9),
        row("the same in Fahrenheit", "BM_AllChannelReadouts/1", "BM_BareReadouts/1", "ns", 1e9),
        row("one thermostat pass over four channels", "BM_Thermostat", "BM_BareThermostat", "ns", 1e9),
        row("one log timestamp (en_US, with milliseconds)", "BM_Timestamp", "BM_BareTimestamp", "ns", 1e9),
        row("one command-sender step", "BM_SenderTick", "BM_BareSenderTick", "ns", 1e9),
        row("log view text to file bytes, 50 000 lines", "BM_LogFileBytes/50000", "BM_BareFileBytes/50000",
            "ms", 1e3),
        row("safe save (temporary file, fsync, rename), 50 000 lines", "BM_WriteLogFile/50000",
            "BM_BareSave/50000", "ms", 1e3),
        row("blocking hand-off round trip, worker to UI thread and back", "BM_HandOff/real_time",
            "BM_BareHandOff/real_time", "µs", 1e6),
        row("port component: write a command, read a 9-byte reply over a pty", "BM_PortWriteRead/real_time",
            "BM_BarePortWriteRead/real_time", "µs", 1e6),
    ])


def chart():
    print("Chart (`q274_bench_chart`):\n")
    table(["what", "time per operation"], [
        ["record one reading", fig(values("BM_ChartAppend"), 1e9, "ns")],
        ["decimate four channels and their relay bands, one day in view",
         fig(values("BM_ChartDecimate/1"), 1e3, "ms")],
        ["the same, a week in view", fig(values("BM_ChartDecimate/7"), 1e3, "ms")],
        ["whole chart redraw (decimation and Qt Charts series), one day", fig(values("BM_ChartRedraw/1"), 1e3, "ms")],
        ["the same, a week", fig(values("BM_ChartRedraw/7"), 1e3, "ms")],
        ["memory for a week of four channels", fig(values("BM_ChartDecimate/7", "MB"), 1, "MB")],
    ])


def log_view():
    sizes = [1000, 10000, 100000, 1000000]
    print("Log view (`q274_bench_logview`):\n")
    rows = []
    for k, what in ((100, "100 lines a turn"), (1, "1 line a turn")):
        w = [values(f"Append<Window>/{n}/{k}/process_time", "per_line") for n in sizes]
        b = [values(f"Append<Bare>/{n}/{k}/process_time", "per_line") for n in sizes]
        growth = lambda v: fig(ratio(v[-1], v[0])) if v[0] and v[-1] else "-"
        rows.append([f"window, {what}, µs per line"] + [fig(v, 1e6) for v in w] + [growth(w)])
        rows.append(["bare view, the same"] + [fig(v, 1e6) for v in b] + [growth(b)])
        rows.append(["ratio window / bare"] + [fig(ratio(x, y)) for x, y in zip(w, b)] + [""])
    table(["what", "1 000 lines", "10 000", "100 000", "1 000 000", "1M / 1k"], rows)

    def pair(field, scale=1.0, unit=""):
        w = values("Sustained<Window>/10000/iterations:1/manual_time", field)
        b = values("Sustained<Bare>/10000/iterations:1/manual_time", field)
        return [fig(w, scale, unit), fig(b, scale, unit), fig(ratio(w, b))]

    mw = values("Memory<Window>/1000000/iterations:1/repeats:1", "bytes_per_line")
    mb = values("Memory<Bare>/1000000/iterations:1/repeats:1", "bytes_per_line")
    beyond = lambda v, text: [x - text for x in v]
    clear = lambda field: fig(values("Clear/1000000/iterations:1", field), 1, "ms")
    table(["what", "window", "bare view", "ratio"], [
        ["sustained 10 000 lines/s, lines shown per second"] + pair("lines_per_s"),
        ["CPU for it (cores)"] + pair("cores"),
        ["paints per second"] + pair("paints_per_s"),
        ["memory per line at 1 000 000 lines (RSS)", fig(mw, 1, "B"), fig(mb, 1, "B"), fig(ratio(mw, mb))],
        ["the same beyond the text as the view stores it (UTF-16, 122 B)", fig(beyond(mw, 122), 1, "B"),
         fig(beyond(mb, 122), 1, "B"), fig(ratio(beyond(mw, 122), beyond(mb, 122)))],
        ["the same beyond the text as 8-bit characters (61 B)", fig(beyond(mw, 61), 1, "B"),
         fig(beyond(mb, 61), 1, "B"), fig(ratio(beyond(mw, 61), beyond(mb, 61)))],
        ["Clear Log at 1 000 000 lines: longest event-loop turn, save included", clear("clear_turn_ms"), "", ""],
        ["the save alone (to memory)", clear("save_ms"), "", ""],
        ["longest later turn (the old view freed)", clear("later_turn_ms"), "", ""],
    ])


def saving():
    sizes = [10000, 100000, 1000000]
    print("Saving (`q274_bench_save`):\n")
    model = [values(f"BM_WholeSaveFromModel/{n}/manual_time") for n in sizes]
    dd = [[x * 1e-3 for x in values(f"BM_WholeSaveFromModel/{n}/manual_time", "dd_ms")] for n in sizes]
    streamed = [values(f"BM_SaveBytesStreamed/{n}") for n in sizes]
    memory = [values(f"BM_SaveBytesFromText/{n}") for n in sizes]
    read = [values(f"BM_ReadTextOnce/{n}") for n in sizes]
    per_line = lambda runs: [fig([x / n for x in v], 1e9, "ns") for v, n in zip(runs, sizes)]
    table(["whole save (bytes, write, fsync, rename)", "10 000 lines", "100 000", "1 000 000 (59 MB)"], [
        ["the window's save of the model's bytes"] + [fig(v, 1e3, "ms") for v in model],
        ["dd-like write"] + [fig(v, 1e3, "ms") for v in dd],
        ["ratio"] + [fig(ratio(m, d)) for m, d in zip(model, dd)],
        ["text to bytes as a save makes them (a megabyte at a time)"] + [fig(v, 1e3, "ms") for v in streamed],
        ["the same per line"] + per_line(streamed),
        ["text to bytes into one block of memory"] + [fig(v, 1e3, "ms") for v in memory],
        ["the same per line"] + per_line(memory),
        ["bare baseline: one pass reading the same text, nothing written"] + [fig(v, 1e3, "ms") for v in read],
        ["ratio a megabyte at a time / one pass"] + [fig(ratio(s, r)) for s, r in zip(streamed, read)],
        ["ratio one block / one pass"] + [fig(ratio(m, r)) for m, r in zip(memory, read)],
    ])


def process(paths):
    rows = {}
    for path in paths:
        with open(path) as f:
            for line in f:
                w = line.split()
                if w[0] == "unconnected":
                    w.insert(1, "program")
                rows.setdefault((w[0], w[1]), []).append(w[2:])

    def col(label, subject, i):
        return [float(r[i]) for r in rows.get((label, subject), []) if len(r) > i and r[i] != "-"]

    out = []
    for label in ("idle", "loaded"):
        # Resident memory in MiB to three digits: its last tens of kB change with
        # every start of a program (where the loader and the fonts put things).
        for i, what, unit, scale in ((0, "CPU", "%", 1), (1, "wake-ups (context switches) per second, whole process",
                                                          "", 1), (2, "resident memory", "MiB", 1 / 1024)):
            if label == "loaded" and i == 2:
                continue
            p, l = col(label, "program", i), col(label, "loop", i)
            out.append([f"{label}: {what}", fig(p, scale, unit), fig(l, scale, unit), fig(ratio(p, l))])
        for o, what in ((3, "75 ms grid error"), (6, "900 ms rotation error")):
            cells = []
            for subject in ("program", "loop"):
                m = [col(label, subject, o + j) for j in range(3)]
                if not all(m):
                    cells.append("-")
                    continue
                med = "/".join(number(statistics.median(v)) for v in m)
                cells.append(f"{med} ms (p99 {number(min(m[1]))}–{number(max(m[1]))})")
            out.append([f"{label}: {what} p50/p99/max"] + cells + [""])
    out.append(["not connected: CPU", fig(col("unconnected", "program", 0), 1, "%"), "", ""])
    out.append(["not connected: wake-ups per second", fig(col("unconnected", "program", 1)), "", ""])
    n = max((len(v) for v in rows.values()), default=0)
    print(f"Each figure: median of {n} windows (min–max); a ratio pairs the two measured in the same window.")
    print(machine())
    table(["", "Q274TCstd", "poll loop", "ratio"], out)
    return 0


def history():
    print("Reading logs back (`q274_bench_history`):\n")
    read = values("BM_HistoryRead", "lines/s")
    count = values("BM_CountLines", "lines/s")
    table(["what", "lines per second"], [
        ["the history reader, a month of data lines and relay events (de_DE)", fig(read, 1e-6, "M")],
        ["counting the same file's lines as `wc -l` does", fig(count, 1e-6, "M")],
        ["ratio reader / count", fig(ratio(read, count))],
    ])


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--process":
        return process(sys.argv[2:])
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    for run, folder in enumerate(sys.argv[1:]):
        load(folder, run, RUNS)
    reps = max((len(v) for v in RUNS.values()), default=0)
    runs = len(sys.argv) - 1
    pooled = f" in {runs} runs" if runs > 1 else ""
    print(f"Each figure: median of {reps} repetitions{pooled} (min–max); ratios pair the repetitions of one run.")
    print(machine())
    hot_paths()
    chart()
    log_view()
    saving()
    history()
    return 0


if __name__ == "__main__":
    sys.exit(main())
