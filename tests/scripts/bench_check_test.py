#!/usr/bin/env python3
"""bench-check.py decides a run by its claims alone: a ratio, a count or a
timing error outside the README's spread fails it, a time never does; and
bench-table.py pairs a subject with its baseline of the same run and
repetition."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

LIB = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib")
CHECK = os.path.join(LIB, "bench-check.py")

README = """| what | time per operation | bare baseline | ratio |
|---|---|---|---|
| assembly | 154 (152–180) ns | 23 (22.8–24.3) ns | 6.69 (6.37–7.86) |

|  | Q274TCstd | poll loop | ratio |
|---|---|---|---|
| idle: resident memory | 43.4 (43.4–43.5) MiB | 1.38 (1.36–1.41) MiB | 31.5 (30.9–32) |
| idle: 75 ms grid error p50/p99/max | 0/0/0 ms (p99 0–1) | 0/0/0 ms (p99 0–0) |  |
"""


def check(new, readme=README, own=None):
    with tempfile.TemporaryDirectory() as d:
        if own:
            os.makedirs(os.path.join(d, "docs", "bench"))
            with open(os.path.join(d, "docs", "bench", "other.md"), "w", encoding="utf-8") as f:
                f.write(own)
        paths = [os.path.join(d, n) for n in ("README.md", "new.md")]
        for path, text in zip(paths, (readme, new)):
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        return subprocess.run([sys.executable, CHECK] + paths, capture_output=True, text=True)


class BenchCheck(unittest.TestCase):
    def test_times_are_pace_and_claims_decide(self):
        # Both times three times slower, the ratio and the counts unchanged:
        # "time per operation" must not be read as a ratio column.
        slow = README.replace("154 (152–180) ns", "462 (450–470) ns").replace("23 (22.8", "69 (68")
        r = check(slow)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("4 of 4 claims inside", r.stdout)
        self.assertIn("0 of 2 inside", r.stdout)

    def test_a_claim_outside_fails(self):
        for old, new in (("6.69 (6.37–7.86)", "8.1 (8–8.2)"), ("43.4 (43.4–43.5) MiB", "44.1 (44–44.2) MiB"),
                         ("0/0/0 ms (p99 0–1)", "0/3/5 ms (p99 2–4)")):
            r = check(README.replace(old, new))
            self.assertEqual(r.returncode, 1, new)
            self.assertIn("outside:", r.stdout)
        # The loop's resident memory is the page cache's, not a claim.
        r = check(README.replace("1.38 (1.36–1.41) MiB | 31.5 (30.9–32)", "1.5 (1.49–1.51) MiB | 29 (28.9–29.1)"))
        self.assertEqual(r.returncode, 0, r.stdout)

    def test_another_machine_is_said_but_decides_nothing(self):
        here = "Machine: Xeon (family 6, model 167), 2 CPUs, AVX-512, KVM guest, Linux 6.1.\n"
        readme = here + README
        for new, told in ((readme, False), (readme.replace("AVX-512", "AVX2"), True)):
            r = check(new, readme)
            self.assertEqual(r.returncode, 0, r.stdout)
            self.assertEqual("another machine" in r.stdout, told, r.stdout)
        # A processor with a reference of its own is checked against that,
        # whatever its kernel; its ratio there is not the README's.
        there = readme.replace("AVX-512", "AVX2").replace("6.69 (6.37–7.86)", "4.1 (4–4.3)")
        own = there.replace("Linux 6.1", "Linux 6.2")
        self.assertEqual(check(there, readme, own).returncode, 0)
        self.assertEqual(check(there.replace("4.1 (4", "6.69 (6"), readme, own).returncode, 1)
        self.assertEqual(check(there, readme).returncode, 1)


class BenchTable(unittest.TestCase):
    def test_a_lost_repetition_does_not_shift_the_pairs(self):
        def rep(name, i, ns, error=False):
            return {"run_name": name, "run_type": "iteration", "repetition_index": i, "real_time": ns,
                    "time_unit": "ns", "error_occurred": error}
        # Two runs: the first's machine twice as slow, and its baseline's
        # second repetition failed. Every true pair is 2.0.
        runs = [[rep("BM_ReplyAssembly", 0, 400), rep("BM_ReplyAssembly", 1, 400),
                 rep("BM_BareAssembly", 0, 200), rep("BM_BareAssembly", 1, 0, True)],
                [rep("BM_ReplyAssembly", 0, 200), rep("BM_ReplyAssembly", 1, 200),
                 rep("BM_BareAssembly", 0, 100), rep("BM_BareAssembly", 1, 100)]]
        with tempfile.TemporaryDirectory() as d:
            folders = []
            for n, benchmarks in enumerate(runs):
                folder = os.path.join(d, f"run{n}")
                os.mkdir(folder)
                with open(os.path.join(folder, "q274_bench.json"), "w") as f:
                    json.dump({"benchmarks": benchmarks}, f)
                folders.append(folder)
            out = subprocess.run([sys.executable, os.path.join(LIB, "bench-table.py")] + folders,
                                 capture_output=True, text=True).stdout
        row = next(line for line in out.splitlines() if "assembled into a line" in line)
        self.assertTrue(row.rstrip().endswith("| 2 (2–2) |"), row)


if __name__ == "__main__":
    unittest.main()
