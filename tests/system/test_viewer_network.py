"""The viewer network of the real daemon: expiry of a silent viewer, the local
command mailbox in /dev/shm/hud_mem, the RC channel report, configuration
reports and slow viewers beside video. Everything runs inside the sandbox."""

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


def summary(viewer):
    line = next((l for l in si.lines(viewer) if l.startswith("summary ")), "")
    m = re.search(r"acks=(\d+) video=(\d+) dgrams (\d+) B", line)
    if not m:
        raise AssertionError("no summary from the viewer: %r" % si.lines(viewer)[-5:])
    return int(m.group(1)), int(m.group(2)), int(m.group(3))


def write_mailbox(text):
    data = text.encode() + b"\0"
    with open("/dev/shm/hud_mem", "r+b") as f:
        f.seek(MAILBOX + 1)
        f.write(data[1:])
        f.flush()
        # The first byte last: it is what marks the area as pending.
        f.seek(MAILBOX)
        f.write(data[:1])


def test_mailbox_rc_report_and_silent_viewer_expiry(sb):
    daemon = si.start_daemon(sb, "control_enabled=1\nrc_input_enabled=1\n")
    # A command in the mailbox runs and the area is emptied.
    sb.expect(sb.wait_until(lambda: sb.shm_size("hud_mem") == 2728, 10), "no /dev/shm/hud_mem")
    write_mailbox('{"cmd":"rc","name":"showchannels","value":"1"}')
    sb.expect(sb.wait_until(lambda: sb.read_hud(SHOW_CHANNELS, 1) == b"\x01", 10), "show-channels byte not set")
    sb.expect(sb.read_hud(MAILBOX, 512) == bytes(512), "mailbox not emptied")
    # The RC channel report goes out while RC input is enabled.
    viewer = sb.start_tool("vb-viewer", "--data-only", "--seconds", "3", "--quiet-video")
    sb.expect(si.wait_exit(sb, viewer, 20) == 0, "viewer did not finish")
    reports = [l for l in si.lines(viewer) if l.startswith("rc status=")]
    sb.expect(len(reports) >= 3, "only %d RC channel reports in 3 s" % len(reports))
    sb.expect(all(" n=32 " in l for l in reports), "a report without 32 channels: %r" % reports[:1])
    # A viewer killed cannot say goodbye: only the expiry can remove it.
    viewer = sb.start_tool("vb-viewer", "--quiet-video")
    port = si.viewer_port(viewer)
    sb.expect(si.wait_line(viewer, "ack", timeout=10) is not None, "viewer not acknowledged")
    viewer.popen.kill()
    viewer.popen.wait()
    silent_since = time.monotonic()
    want = "Client 127.0.0.1:%d lost\n" % port
    sb.expect(sb.wait_for(daemon, want, timeout=15), "no %r after the viewer went silent" % want)
    silent_for = time.monotonic() - silent_since
    sb.expect(silent_for > 4.0, "viewer dropped after only %.1f s of silence" % silent_for)
    sb.expect("127.0.0.1:%d removed" % port not in daemon.stderr_text(), "the viewer was removed, not expired")


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
    si.start_daemon(sb)
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
    slow_viewer_beside_a_fast_one(sb, si.start_daemon(sb))


def test_slow_viewer_costs_the_others_nothing_without_the_reuseport_filter(sb):
    """As above where the kernel refuses the filter that steers every arrival to
    one socket (qemu-user does): the rows keep their own sockets, and whatever
    lands on them is still read."""
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
        test_mailbox_rc_report_and_silent_viewer_expiry,
        test_config_reports_are_not_lost_to_video,
        test_slow_viewer_costs_the_others_nothing,
        test_slow_viewer_costs_the_others_nothing_without_the_reuseport_filter,
    ])
