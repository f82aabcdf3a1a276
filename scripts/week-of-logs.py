#!/usr/bin/env python3
"""Writes DAYS days of autosaved log files as the program writes them under
de_DE (one file a day, a data line a minute, channel 1 heating between its
set point 30 and 33 with its relay events, channel 3 without a sensor, an
hour without the board on the third day), for trying Open Log on the Chart
page without waiting a week.

usage: scripts/week-of-logs.py FOLDER [DAYS] [START as YYYY-MM-DD]
"""
import datetime as dt
import math
import os
import sys

INDENT = "\t   \t   \t   \t\t  "
BANNER = [
    "Q274 Temperature Controller Standard for Linux",
    "Copyright (C) 2026 Q274TC developers",
    "Free software under the MIT licence.",
    "https://q274tc.example.org",
]


def stamp(t):
    text = t.strftime("%d.%m.%Y")
    return text if t.time() == dt.time(0) else text + t.strftime(" %H:%M:%S")


def number(v):
    return f"{v:.2f}".replace(".", ",")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    days = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    start = dt.datetime.fromisoformat(sys.argv[3] if len(sys.argv) > 3 else "2026-12-01") + dt.timedelta(hours=8, seconds=12)
    os.makedirs(folder, exist_ok=True)
    t, heater, relay, connected = start, 24.0, False, False
    for day in range(days):
        lines = [INDENT + b for b in BANNER] + ["", ""]
        msg = lambda text: lines.append(stamp(t) + INDENT + text)
        msg("Logging enabled in Deg C")
        end = start + dt.timedelta(days=day + 1)
        while t < end:
            outage = day == 2 and dt.time(13) <= t.time() < dt.time(14)
            if outage and connected:
                msg("Disconnected")
                lines.append(" ")
                connected, relay = False, False
            if not outage and not connected:
                msg("COM Port opened")
                msg("Connecting to Q274... ")
                msg("Temperature Monitor & Controller v2.1")
                msg("Q274 found")
                connected = True
            if connected:
                hours = (t - start).total_seconds() / 3600
                room = 19 + 3 * math.sin(hours / 24 * 2 * math.pi)
                heater += 0.06 if relay else -0.025
                if not relay and heater <= 30:
                    relay = True
                    msg(f"Ch1: heat ON  ({number(heater)})")
                elif relay and heater >= 33:
                    relay = False
                    msg(f"Ch1: heat OFF  ({number(heater)})")
                lines.append(stamp(t) + "\t" + "\t".join([number(heater), number(room), "  -", number(room + 1.5)]))
            t += dt.timedelta(minutes=1)
        name = f"Q274TC_{t.strftime('%d-%m-%Y_%H-%M-%S')}.log"
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines))
        print(os.path.join(folder, name))


if __name__ == "__main__":
    main()
