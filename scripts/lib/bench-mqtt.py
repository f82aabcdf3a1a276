#!/usr/bin/env python3
"""Publishing to MQTT: the program's client beside a bare mosquitto_pub.

Usage: bench-mqtt.py BUILD_DIR [ROUNDS [COUNT]]   (default 5 and 20000)

A mosquitto broker of its own on a free loopback port; in each round a
`mosquitto_sub -C COUNT` waits for COUNT messages while first
BUILD_DIR/bin/q274-mqtt-pub (the program's client: its thread, outbox and
clean end) and then `mosquitto_pub -l` (fed the same COUNT lines from a
file) publish them. Messages a second: COUNT over the time from the
publisher's start until the subscriber has them all (connecting included,
the same for both). CPU a message: the publisher's own user + system time
(wait4) over COUNT. Each figure is the median of the rounds with their
spread (min-max); the ratio is taken round by round.
"""
import os
import pwd
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, proc, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def one_round(argv, port, count, stdin_path=None):
    """Seconds until the subscriber has count messages, and the publisher's CPU seconds."""
    sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", "bench/#",
                            "-C", str(count), "-W", "120"], stdout=subprocess.DEVNULL)
    time.sleep(0.3)  # subscribed before the first message
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    start = time.monotonic()
    pub = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL)
    if sub.wait() != 0:
        pub.kill()
        raise SystemExit(f"{argv[0]}: the subscriber did not get {count} messages")
    wall = time.monotonic() - start
    _, status, usage = os.wait4(pub.pid, 0)
    pub.returncode = os.waitstatus_to_exitcode(status)
    if stdin_path:
        stdin.close()
    return wall, usage.ru_utime + usage.ru_stime


def spread(values, fmt):
    return f"{fmt(statistics.median(values))} ({fmt(min(values))}-{fmt(max(values))})"


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    ours = os.path.join(build, "bin", "q274-mqtt-pub")
    broker = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
    for tool in (ours, broker, shutil.which("mosquitto_pub"), shutil.which("mosquitto_sub")):
        if not tool or not os.access(tool, os.X_OK):
            raise SystemExit(f"missing: {tool or 'mosquitto-clients'} (scripts/deps.sh, the build)")

    with tempfile.TemporaryDirectory() as work:
        port = free_port()
        conf = os.path.join(work, "mosquitto.conf")
        with open(conf, "w") as f:
            # No queue limit: a subscriber that lags must not lose messages.
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n"
                    f"max_queued_messages 0\nuser {pwd.getpwuid(os.geteuid()).pw_name}\n")
        lines = os.path.join(work, "lines")
        with open(lines, "w") as f:
            for i in range(count):
                f.write(f"{20 + (i % 1000) / 100:.2f}\n")
        proc = subprocess.Popen([broker, "-c", conf], stderr=subprocess.DEVNULL)
        try:
            if not wait_listening(port, proc):
                raise SystemExit("the broker did not start")
            rate = {"ours": [], "bare": []}
            cpu = {"ours": [], "bare": []}
            for _ in range(rounds):
                w, c = one_round([ours, "127.0.0.1", str(port), "bench/ch1/temperature", str(count)], port, count)
                rate["ours"].append(count / w)
                cpu["ours"].append(c / count * 1e6)
                w, c = one_round(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-t",
                                  "bench/ch1/temperature", "-l"], port, count, lines)
                rate["bare"].append(count / w)
                cpu["bare"].append(c / count * 1e6)
        finally:
            proc.terminate()
            proc.wait()

    ratio_rate = [a / b for a, b in zip(rate["ours"], rate["bare"])]
    ratio_cpu = [a / b if b else float("inf") for a, b in zip(cpu["ours"], cpu["bare"])]
    n = lambda v: f"{v:,.0f}"
    us = lambda v: f"{v:.1f}"
    r = lambda v: f"{v:.2f}"
    print(f"\nMQTT publishing, {count} messages a round, {rounds} rounds: median (min-max)\n")
    print("| | program's client | mosquitto_pub -l | ratio |")
    print("|---|---|---|---|")
    print(f"| messages a second | {spread(rate['ours'], n)} | {spread(rate['bare'], n)} | {spread(ratio_rate, r)} |")
    print(f"| CPU a message (µs) | {spread(cpu['ours'], us)} | {spread(cpu['bare'], us)} | {spread(ratio_cpu, r)} |")


if __name__ == "__main__":
    main()
