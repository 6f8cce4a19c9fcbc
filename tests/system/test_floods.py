"""The real daemon under junk and floods on its three UDP ports: empty
datagrams stall no receive thread, and a flood of JSON commands (slow playback
sequences among them) costs neither unbounded threads, nor video, nor the
commands that follow it."""

import json
import os
import re
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

# Sends empty datagrams to each port given, RATE a second each, until killed.
EMPTY_SENDER = """
import socket, sys, time
rate = float(sys.argv[1])
ports = [int(p) for p in sys.argv[2:]]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
print("sending", flush=True)
while True:
    for port in ports:
        s.sendto(b"", ("127.0.0.1", port))
    time.sleep(1.0 / rate)
"""

# Sends each text of a JSON list in a file as one viewer datagram to 4242.
COMMAND_SENDER = """
import json, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
header = b"B" + bytes(11)
for text in json.load(open(sys.argv[1])):
    s.sendto(header + text.encode(), ("127.0.0.1", 4242))
print("sent", flush=True)
"""

PLAYBACK_BACK = {"cmd": "playback", "param": "back"}
# The second key of the "back" sequence, sent about 2.8 s after it starts.
CONFIRM_KEY = "91 0F"


def video_lines(viewer):
    return [int(m.group(1)) for m in (re.match(r"^video (\d+) dgrams/s", l) for l in si.lines(viewer)) if m]


def write_commands(name, commands):
    path = os.path.join(sandbox.SANDBOX_DIR, name)
    with open(path, "w") as f:
        json.dump([json.dumps(c, separators=(",", ":")) for c in commands], f)
    return path


def threads_of(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("Threads:"):
                    return int(line.split()[1])
    except FileNotFoundError:
        pass
    return 0


def test_empty_datagrams_stall_no_receive_thread(sb):
    daemon = si.start_daemon(sb)
    # Ten times the trickle that used to keep viewers out and the camera unanswered.
    junk = sb.start([sys.executable, "-c", EMPTY_SENDER, "200", "4242", "5000", "5001"], name="empty-sender")
    sb.expect(sb.wait_for(junk, "sending", stream="stdout", timeout=10), "sender did not start")
    camera = sb.start_tool("vb-camera", "--still", "--quiet", "--query-every", "1", "--video-kbps", "2000",
                           "--seconds", "8")
    viewer = si.start_viewer(sb, "--seconds", "7")
    sb.expect(si.wait_exit(sb, camera, 30) == 0 and si.wait_exit(sb, viewer, 30) == 0, "stand-ins did not finish")
    summary = si.wait_line(camera, "summary ", timeout=5) or ""
    m = re.search(r"answers ok=(\d+) mismatch=(\d+) missing=(\d+)", summary)
    sb.expect(m is not None, "no camera summary: %r" % si.lines(camera)[-5:])
    ok, mismatch, missing = (int(x) for x in m.groups())
    sb.expect(ok >= 8 and mismatch == 0 and missing == 0,
              "camera answers ok=%d mismatch=%d missing=%d" % (ok, mismatch, missing))
    rates = video_lines(viewer)
    sb.expect(len(rates) >= 4 and all(r > 0 for r in rates[1:]), "video to the viewer: %r" % rates)
    sb.expect(daemon.running(), "daemon ended")


def test_command_flood_keeps_threads_bounded_and_serves_the_next_command(sb):
    daemon = si.start_daemon(sb)
    camera = sb.start_tool("vb-camera", "--still", "--quiet", "--no-telemetry", "--video-kbps", "2000")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "camera link did not come up")
    full = si.start_viewer(sb)
    sb.expect(sb.wait_until(lambda: any(r > 0 for r in video_lines(full)), 15), "no video before the flood")
    base_threads = threads_of(daemon.pid)

    # A few slow sequences first, then 10,000 commands with more of them sprinkled in.
    commands = [PLAYBACK_BACK] * 4
    commands += [PLAYBACK_BACK if i % 1000 == 999 else {"cmd": "rc", "name": "showchannels", "value": "0"}
                 for i in range(10000)]
    flood_file = write_commands("flood.json", commands)
    marker_file = write_commands("marker.json", [{"cmd": "reboot"}])

    most = [base_threads]
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            most[0] = max(most[0], threads_of(daemon.pid))
            time.sleep(0.005)

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        video_before = len(video_lines(full))
        camera_lines_before = len(si.lines(camera))
        flood = sb.start([sys.executable, "-c", COMMAND_SENDER, flood_file], name="flood")
        sb.expect(sb.wait_for(flood, "sent", stream="stdout", timeout=30), "flood not sent")
        sent_at = time.monotonic()
        # Sent again while the queue may still be full of the flood's tail (a
        # slow build drains it late): what arrives then is dropped by design.
        markers = []
        while len(markers) < 10 and "reboot " not in sb.stub_log():
            markers.append(sb.start([sys.executable, "-c", COMMAND_SENDER, marker_file], name="marker"))
            sb.wait_until(lambda: "reboot " in sb.stub_log(), 2)
        sb.expect("reboot " in sb.stub_log(), "the command after the flood never ran")
        served_after = time.monotonic() - sent_at
        # Served while the slow sequences were still waiting for their second key:
        # they held a worker each, not the pool.
        confirm_keys = [f for f in si.frames(camera, camera_lines_before) if CONFIRM_KEY in f.payload]
        sb.expect(not confirm_keys, "the next command waited for the slow ones (%d of their later keys "
                  "first)" % len(confirm_keys))
        sb.expect(sb.wait_until(lambda: len(si.lines(camera)) > camera_lines_before and any(
            CONFIRM_KEY in f.payload for f in si.frames(camera, camera_lines_before)), 20),
            "the slow sequences did not run")
        sb.expect(all(si.wait_exit(sb, m, 10) == 0 for m in markers), "marker sender failed")
        sb.wait_until(lambda: len(video_lines(full)) >= video_before + 4, 15)
    finally:
        stop.set()
        sampler.join()
    print("  measured: threads %d before, at most %d under the flood; next command served after %.3f s"
          " (%d sent)" % (base_threads, most[0], served_after, len(markers)))
    sb.expect(most[0] <= base_threads + 16, "threads grew from %d to %d" % (base_threads, most[0]))
    during = video_lines(full)[video_before:]
    sb.expect(len(during) >= 4 and all(r > 0 for r in during), "video during the flood: %r" % during)
    sb.expect("data disconnected" not in daemon.stderr_text(), "camera link lost under the flood")
    sb.expect(daemon.running(), "daemon ended")


if __name__ == "__main__":
    sandbox.main([
        test_empty_datagrams_stall_no_receive_thread,
        test_command_flood_keeps_threads_bounded_and_serves_the_next_command,
    ])
