"""The viewer network of the real daemon: registration and its acknowledgement,
the video relay to full viewers only, the video link state, expiry of a silent
viewer, the local command mailbox in /dev/shm/hud_mem and the RC channel
report. Everything runs inside the sandbox; video is sent to port 5000 from
the far end of the sandbox's camera link."""

import os
import re
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

MAILBOX = 1570
SHOW_CHANNELS = 888


def start(sb, config="control_enabled=1\n"):
    return si.start_daemon(sb, config)


VIDEO_SENDER = """
import socket, sys, time
count, size, gap = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(count):
    s.sendto(bytes([i & 0xFF]) * size, (sys.argv[4], 5000))
    time.sleep(gap)
"""


def send_video(sb, count, size=1400, gap=0.01):
    """Video as the camera sends it, from the far end of the camera link."""
    link = sb.camera_link()
    sender = link.start_python(VIDEO_SENDER, count, size, gap, link.box_address)
    sb.expect(si.wait_exit(sb, sender, 30) == 0, "video sender failed: %r" % sender.stderr_text())


def summary(viewer):
    line = next((l for l in si.lines(viewer) if l.startswith("summary ")), "")
    m = re.search(r"acks=(\d+) video=(\d+) dgrams (\d+) B", line)
    if not m:
        raise AssertionError("no summary from the viewer: %r" % si.lines(viewer)[-5:])
    return int(m.group(1)), int(m.group(2)), int(m.group(3))


def test_registration_is_acknowledged_once(sb):
    daemon = start(sb)
    viewer = sb.start_tool("vb-viewer", "--seconds", "3.5", "--quiet-video")
    port = si.viewer_port(viewer)
    sb.expect(si.wait_exit(sb, viewer, 20) == 0, "viewer did not finish")
    acks, _, _ = summary(viewer)
    sb.expect(acks == 1, "repeated connect requests must be silent keep-alives, got %d acks" % acks)
    want = "client connected from 127.0.0.1:%d  \n" % port
    sb.expect(want in daemon.stderr_text(), "no %r in the daemon's log" % want)
    sb.expect(any(l.startswith("link video state=0") for l in si.lines(viewer)), "no video link-state message")


def test_video_reaches_full_viewers_only(sb):
    daemon = start(sb)
    full = sb.start_tool("vb-viewer", "--seconds", "5", "--quiet-video")
    data_only = sb.start_tool("vb-viewer", "--data-only", "--seconds", "5", "--quiet-video")
    sb.expect(si.wait_line(full, "ack", timeout=10) is not None, "full viewer not acknowledged")
    sb.expect(si.wait_line(data_only, "ack", timeout=10) is not None, "data-only viewer not acknowledged")
    send_video(sb, 100)
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=10), "no video connected line")
    sb.expect(si.wait_line(full, "link video state=2", timeout=5) is not None, "video link state never 2")
    sb.expect(si.wait_exit(sb, full, 20) == 0 and si.wait_exit(sb, data_only, 20) == 0, "viewers did not finish")
    _, dgrams, size = summary(full)
    sb.expect(dgrams == 100 and size == 100 * 1400, "full viewer got %d datagrams, %d bytes" % (dgrams, size))
    _, dgrams, _ = summary(data_only)
    sb.expect(dgrams == 0, "data-only viewer got %d video datagrams" % dgrams)
    sb.expect(any(l.startswith("status ") for l in si.lines(data_only)), "data-only viewer got no status message")


def test_video_loss_is_reported_after_three_seconds(sb):
    daemon = start(sb)
    viewer = sb.start_tool("vb-viewer", "--data-only", "--seconds", "12", "--quiet-video", "--stamp")
    sb.expect(si.wait_line(viewer, "ack", timeout=10) is not None, "viewer not acknowledged")
    send_video(sb, 20, gap=0.005)
    stopped = time.monotonic()
    sb.expect(sb.wait_for(daemon, "video disconnected\n", timeout=10), "no video disconnected line")
    lost_after = time.monotonic() - stopped
    sb.expect(lost_after > 2.5, "video reported lost after only %.1f s" % lost_after)
    seen, ok = si.wait_lines(viewer, lambda ls: any(l.startswith("link video state=0") for l in
                                                   ls[next((i for i, l in enumerate(ls)
                                                            if l.startswith("link video state=2")), len(ls)):]),
                             timeout=5)
    sb.expect(ok, "viewer never saw the video link go 2 then 0")
    sb.stop(viewer)


def test_silent_viewer_expires(sb):
    daemon = start(sb)
    viewer = sb.start_tool("vb-viewer", "--quiet-video")
    port = si.viewer_port(viewer)
    sb.expect(si.wait_line(viewer, "ack", timeout=10) is not None, "viewer not acknowledged")
    # Killed, it cannot say goodbye: only the expiry can remove it.
    viewer.popen.kill()
    viewer.popen.wait()
    silent_since = time.monotonic()
    want = "Client 127.0.0.1:%d lost\n" % port
    sb.expect(sb.wait_for(daemon, want, timeout=15), "no %r after the viewer went silent" % want)
    silent_for = time.monotonic() - silent_since
    sb.expect(silent_for > 4.0, "viewer dropped after only %.1f s of silence" % silent_for)
    sb.expect("removed" not in daemon.stderr_text(), "the viewer was removed, not expired")


def write_mailbox(text):
    data = text.encode() + b"\0"
    with open("/dev/shm/hud_mem", "r+b") as f:
        f.seek(MAILBOX + 1)
        f.write(data[1:])
        f.flush()
        # The first byte last: it is what marks the area as pending.
        f.seek(MAILBOX)
        f.write(data[:1])


def test_mailbox_command_runs_and_empties_the_area(sb):
    start(sb)
    sb.expect(sb.wait_until(lambda: sb.shm_size("hud_mem") == 2728, 10), "no /dev/shm/hud_mem")
    write_mailbox('{"cmd":"rc","name":"showchannels","value":"1"}')
    sb.expect(sb.wait_until(lambda: sb.read_hud(SHOW_CHANNELS, 1) == b"\x01", 10), "show-channels byte not set")
    sb.expect(sb.read_hud(MAILBOX, 512) == bytes(512), "mailbox not emptied")


def test_rc_channel_report_while_rc_input_is_enabled(sb):
    start(sb, "control_enabled=1\nrc_input_enabled=1\n")
    viewer = sb.start_tool("vb-viewer", "--data-only", "--seconds", "3", "--quiet-video")
    sb.expect(si.wait_exit(sb, viewer, 20) == 0, "viewer did not finish")
    reports = [l for l in si.lines(viewer) if l.startswith("rc status=")]
    sb.expect(len(reports) >= 3, "only %d RC channel reports in 3 s" % len(reports))
    sb.expect(all(" n=32 " in l for l in reports), "a report without 32 channels: %r" % reports[:1])


BOX = ("127.0.0.1", 4242)
HEADER = b"B" + bytes(11)


def viewer_socket(receive_buffer=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind(("127.0.0.1", 0))
    return s


def register(s, data_only=False):
    s.sendto(HEADER + bytes([0, 1 if data_only else 0]), BOX)


def test_config_reports_are_not_lost_to_video(sb):
    """Configuration reports requested while video goes to 18 viewers at about
    3,000 datagrams/s all arrive: a reply waits for the video send in progress."""
    start(sb)
    # Full viewers that never read: their queues overflow, the box's sends do not.
    full = [viewer_socket(4096) for _ in range(18)]
    asker = viewer_socket()
    asker.settimeout(0.2)
    for s in full:
        register(s)
    register(asker, data_only=True)
    camera = sb.start_tool("vb-camera", "--no-queries", "--no-telemetry", "--video-kbps", "33600", "--seconds", "60")
    requests = 60
    sent = replies = 0
    next_request = next_keepalive = time.monotonic() + 1.0  # video flowing first
    deadline = next_request + requests * 0.05 + 15.0
    try:
        while replies < requests and time.monotonic() < deadline:
            now = time.monotonic()
            if now >= next_keepalive:
                for s in full:
                    register(s)
                register(asker, data_only=True)
                next_keepalive = now + 1.0
            if sent < requests and now >= next_request:
                asker.sendto(HEADER + b'{"cmd":"configrequest"}', BOX)
                sent += 1
                next_request = now + 0.05
            try:
                data = asker.recv(8192)
            except socket.timeout:
                continue
            if len(data) > 12 and data[1] == 0 and data[12:13] == b"{":
                replies += 1
    finally:
        for s in full + [asker]:
            s.close()
        sb.stop(camera)
    video = re.search(r"video=(\d+)", camera.stdout_text())
    print("  config reports: %d of %d arrived; camera sent %s video datagrams"
          % (replies, sent, video.group(1) if video else "?"))
    sb.expect(replies == requests, "only %d of %d configuration reports arrived" % (replies, requests))


def ip(*args):
    subprocess.run(["ip"] + list(args), check=True, stdout=subprocess.DEVNULL)


def test_slow_viewer_costs_the_others_nothing(sb):
    """A full viewer behind a 1 Mbit/s link whose queue holds more than any send
    buffer loses its own video; the viewer beside it still gets every datagram."""
    slow_viewer_beside_a_fast_one(sb, start(sb))


def test_slow_viewer_costs_the_others_nothing_without_the_reuseport_filter(sb):
    """As above where the kernel refuses the filter that steers every arrival to
    one socket (qemu-user does): the rows keep their own sockets, and whatever
    lands on them is still read."""
    sb.write_config("control_enabled=1\n")
    daemon = sb.start([sb.binary("refuse-reuseport-filter"), sb.binary("vantagebridge")], name="vantagebridge")
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start")
    sb.expect(sb.wait_for(daemon, "no reuseport filter: viewers are read from every send socket"),
              "the daemon did not notice the refused filter")
    slow_viewer_beside_a_fast_one(sb, daemon)


def slow_viewer_beside_a_fast_one(sb, daemon):
    # The slow viewer sits in a network namespace of its own, behind a shaped veth.
    ip("netns", "add", "vbslow")
    try:
        ip("link", "add", "vbslow0", "type", "veth", "peer", "name", "vbslow1", "netns", "vbslow")
        ip("addr", "add", "10.9.0.1/24", "dev", "vbslow0")
        ip("link", "set", "vbslow0", "up")
        ip("-n", "vbslow", "addr", "add", "10.9.0.2/24", "dev", "vbslow1")
        ip("-n", "vbslow", "link", "set", "vbslow1", "up")
        subprocess.run(["tc", "qdisc", "add", "dev", "vbslow0", "root", "handle", "1:", "htb", "default", "10"], check=True)
        subprocess.run(["tc", "class", "add", "dev", "vbslow0", "parent", "1:", "classid", "1:10", "htb",
                        "rate", "1mbit", "ceil", "1mbit"], check=True)
        subprocess.run(["tc", "qdisc", "add", "dev", "vbslow0", "parent", "1:10", "pfifo", "limit", "10000"],
                       check=True)
        slow = sb.start(["ip", "netns", "exec", "vbslow", sb.binary("vb-viewer"), "--box", "10.9.0.1:4242",
                         "--quiet-video", "--seconds", "20"], name="slow-viewer")
        fast = sb.start_tool("vb-viewer", "--quiet-video", "--seconds", "14")
        sb.expect(si.wait_line(slow, "ack", timeout=10) is not None, "slow viewer not acknowledged")
        sb.expect(si.wait_line(fast, "ack", timeout=10) is not None, "fast viewer not acknowledged")
        camera = sb.start_tool("vb-camera", "--no-queries", "--no-telemetry", "--video-kbps", "10000", "--seconds", "6")
        sb.expect(si.wait_exit(sb, camera, 30) == 0, "camera did not finish")
        sb.expect(si.wait_exit(sb, fast, 30) == 0, "fast viewer did not finish")
        sent = re.search(r"video=(\d+)", camera.stdout_text())
        sb.expect(sent is not None, "no summary from the camera")
        _, got, _ = summary(fast)
        print("  fast viewer: %d of %d video datagrams" % (got, int(sent.group(1))))
        sb.expect("video copies dropped" in daemon.stderr_text(), "the slow viewer's link never filled up")
        sb.expect(got == int(sent.group(1)), "the fast viewer got %d of %s video datagrams" % (got, sent.group(1)))
    finally:
        sb.stop_all()
        subprocess.run(["ip", "netns", "del", "vbslow"], check=False)


if __name__ == "__main__":
    sandbox.main([
        test_registration_is_acknowledged_once,
        test_video_reaches_full_viewers_only,
        test_video_loss_is_reported_after_three_seconds,
        test_silent_viewer_expires,
        test_mailbox_command_runs_and_empties_the_area,
        test_rc_channel_report_while_rc_input_is_enabled,
        test_config_reports_are_not_lost_to_video,
        test_slow_viewer_costs_the_others_nothing,
        test_slow_viewer_costs_the_others_nothing_without_the_reuseport_filter,
    ])
