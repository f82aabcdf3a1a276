#!/usr/bin/env python3
"""bench-check.py decides a run by its claims alone: a ratio, a count or a
timing error outside the README's spread fails it, a time never does."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib", "bench-check.py")

README = """| what | time per operation | bare baseline | ratio |
|---|---|---|---|
| assembly | 154 (152–180) ns | 23 (22.8–24.3) ns | 6.69 (6.37–7.86) |

|  | Q274TCstd | poll loop | ratio |
|---|---|---|---|
| idle: resident memory | 43.4 (43.4–43.5) MiB | 1.38 (1.36–1.41) MiB | 31.5 (30.9–32) |
| idle: 75 ms grid error p50/p99/max | 0/0/0 ms (p99 0–1) | 0/0/0 ms (p99 0–0) |  |
"""


def check(new):
    with tempfile.TemporaryDirectory() as d:
        paths = [os.path.join(d, n) for n in ("README.md", "new.md")]
        for path, text in zip(paths, (README, new)):
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
        self.assertIn("6 of 6 claims inside", r.stdout)
        self.assertIn("0 of 2 inside", r.stdout)

    def test_a_claim_outside_fails(self):
        for old, new in (("6.69 (6.37–7.86)", "8.1 (8–8.2)"), ("43.4 (43.4–43.5) MiB", "44.1 (44–44.2) MiB"),
                         ("0/0/0 ms (p99 0–1)", "0/3/5 ms (p99 2–4)")):
            r = check(README.replace(old, new))
            self.assertEqual(r.returncode, 1, new)
            self.assertIn("outside:", r.stdout)


if __name__ == "__main__":
    unittest.main()
