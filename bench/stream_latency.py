"""Latency of the live video, camera to browser, in the sandbox (run as root):

    python3 bench/stream_latency.py --build build
    VB_LATENCY_PICTURES=600 VB_LATENCY_OPENS=5 (the defaults) set how much is measured

The daemon, the camera stand-in (640x360 at 30 pictures a second, each
picture's send time printed with --video-stamps), vb-stream, the box's Janus
and vb-web run as in tests/system/test_stream.py. Headless Chromium opens the
page; for every picture the page's video presents (requestVideoFrameCallback)
the probe reads the picture's number from its digits, and the latency is the
presentation time minus the time the stand-in sent that picture's first
datagram, both on this machine's wall clock. Then the page is opened again
VB_LATENCY_OPENS times, each time measuring the time from opening it to its first
picture. Prints the figures (median, p90, p99, max) with the load average,
and writes them as JSON to BUILD/bench/stream-latency-DATE.json."""

import json
import os
import re
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "system"))
import test_stream as ts  # noqa: E402  (starts again under the system's Python for Selenium)
import sandbox  # noqa: E402

WANTED = int(os.environ.get("VB_LATENCY_PICTURES", "600"))
OPENS = int(os.environ.get("VB_LATENCY_OPENS", "5"))
STAMP = re.compile(r"^video picture (\d+) sent ([0-9.]+)$")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def summary(values):
    return {"count": len(values), "median": statistics.median(values), "p90": percentile(values, 90),
            "p99": percentile(values, 99), "max": max(values), "min": min(values)}


def sent_times(camera):
    sent = {}
    for line in camera.stdout_text().splitlines():
        m = STAMP.match(line)
        if m:
            sent[int(m.group(1))] = float(m.group(2)) * 1000
    return sent


def bench_latency(sb):
    load_before = os.getloadavg()
    parts = ts.start_stream_box(sb, camera_args=("--video-stamps",))
    with ts.Player() as player:
        player.open(sb)
        player.wait_frames(sb, 1, 30, "no picture")
        # Two seconds to settle, then the pictures measured.
        settle = player.probe()["frames"] + 2 * ts.FPS
        player.wait_frames(sb, settle + WANTED, WANTED / ts.FPS * 3 + 30, "too few pictures")
        probe = player.probe()
        # Chromium's time origin against the wall clock now, should the two have drifted.
        skew = player.driver.execute_script("return Date.now() - (performance.timeOrigin + performance.now())")
    sent = sent_times(parts["camera"])
    presented, expected, unread, seen = [], [], 0, set()
    for number, presented_ms, expected_ms in probe["shown"][settle:]:
        if number < 0 or number not in sent:
            unread += 1
            continue
        if number in seen:
            continue
        seen.add(number)
        presented.append(presented_ms + skew - sent[number])
        expected.append(expected_ms + skew - sent[number])
    numbers = [n for n, _, _ in probe["shown"][settle:] if n >= 0]
    skipped = (numbers[-1] - numbers[0] + 1 - len(set(numbers))) if numbers else 0

    opens = []
    for _ in range(OPENS):
        with ts.Player() as late:
            late.open(sb)
            late.wait_frames(sb, 1, 30, "a page opened again showed no picture")
            opens.append(late.probe()["firstPresented"])
    load_after = os.getloadavg()

    result = {
        "when": time.strftime("%Y-%m-%d %H:%M:%S"),
        "format": "%dx%d@%d H.264 constrained baseline, 1000 kbit/s" % (ts.WIDTH, ts.HEIGHT, ts.FPS),
        "presented_ms": summary(presented),
        "expected_display_ms": summary(expected),
        "pictures_unreadable": unread,
        "pictures_never_presented": skipped,
        "open_to_first_picture_ms": summary(opens),
        "clock_skew_ms": skew,
        "load_before": load_before,
        "load_after": load_after,
    }
    folder = os.path.join(sb.build_dir, "bench")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, time.strftime("stream-latency-%Y%m%d-%H%M%S.json"))
    with open(path, "w") as f:
        json.dump(result, f, indent=1)
    print(json.dumps(result, indent=1))
    print("written to " + path)
    sb.expect(len(presented) >= 300, "only %d pictures measured" % len(presented))


if __name__ == "__main__":
    sandbox.main([bench_latency])
