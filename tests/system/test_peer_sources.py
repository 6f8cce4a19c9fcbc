"""Only the box's own peers drive it. The camera is whoever is on the camera's
link: intact camera frames and video from loopback or from a host outside the
box's networks change nothing, junk from the link itself diverts nothing.
Viewers, commands and video from outside the box's connected networks (the
sandbox's outside host, reached only through a route) are refused, while the
same datagrams from inside are served, and one address takes at most four
viewer slots."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

SENDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "send_datagrams.py")
BOOT_FILE = "/boot/vantagebridge-cable.conf"


def send(sb, start, *args):
    """Runs send_datagrams.py through start (sb.start or an outside host's start) and waits for it."""
    proc = start([sys.executable, SENDER] + [str(a) for a in args], name="sender")
    sb.expect(si.wait_exit(sb, proc, 60) == 0, "sender failed: %r" % proc.stderr_text()[-300:])
    m = re.search(r"^done replies=(\d+)$", proc.stdout_text(), re.M)
    sb.expect(m is not None, "sender said %r" % proc.stdout_text()[-300:])
    return int(m.group(1)), proc.stdout_text()


def viewer_summary(sb, viewer):
    line = si.wait_line(viewer, "summary ", timeout=10) or ""
    m = re.search(r"messages=(\d+) acks=(\d+) video=(\d+) dgrams (\d+) B", line)
    sb.expect(m is not None, "no viewer summary: %r" % si.lines(viewer)[-3:])
    return tuple(int(x) for x in m.groups())


def refusals(daemon, kind, address):
    line = "refused %s datagrams from %s: outside the connected networks\n" % (kind, address)
    return daemon.stderr_text().count(line)


def test_only_the_camera_link_speaks_for_the_camera(sb):
    daemon = si.start_daemon(sb)
    link = sb.camera_link()
    camera = sb.start_tool("vb-camera", "--still", "--quiet", "--query-every", "1", "--seconds", "7")
    sb.expect(si.wait_line(camera, "answer ok", timeout=15) is not None, "camera not answered")
    box = link.box_address + ":5001"
    # Two seconds of junk from another port at the link's far end.
    replies, _ = send(sb, link.start, "--repeat", "40", "--gap", "0.05", "--listen", "1", box, "empty", "hex:78",
                      "keepalive:bad-checksum", "keepalive:bad-header", "keepalive:bad-length")
    sb.expect(replies == 0, "the junk's sender got %d answers" % replies)
    sb.expect(si.wait_exit(sb, camera, 30) == 0, "camera did not finish")
    summary = si.wait_line(camera, "summary ", timeout=5) or ""
    m = re.search(r"answers ok=(\d+) mismatch=(\d+) missing=(\d+)", summary)
    sb.expect(m and int(m.group(1)) >= 7 and m.group(2) == "0" and m.group(3) == "0",
              "camera answers: %r" % summary)
    # An intact query from anywhere else is no camera: from loopback and from
    # the outside host, it is not answered.
    outside = sb.outside_host()
    for start_on, to, source in ((sb.start, "127.0.0.1:5001", "127.0.0.2"),
                                 (outside.start, outside.box_address + ":5001", outside.peer_address)):
        replies, out = send(sb, start_on, "--from", source, "--listen", "2", to, "keepalive")
        sb.expect(replies == 0, "an intact query from %s was answered: %r" % (source, out))
    refused = [l for l in daemon.stderr_text().splitlines() if l.startswith("refused camera datagrams")]
    sb.expect(refused == ["refused camera datagrams from 127.0.0.2: not on the camera link usb0"],
              "refusal lines: %r" % refused)
    # The same query on the link, from its other port: the camera speaking, answered there.
    _, out = send(sb, link.start, "--listen", "3", box, "keepalive")
    sb.expect("\nreply 14 " in out, "an intact query on the camera link was not answered: %r" % out)


def test_viewer_outside_gets_no_acknowledgement_and_no_video(sb):
    daemon = si.start_daemon(sb)
    outside = sb.outside_host()
    sb.start_tool("vb-camera", "--still", "--quiet", "--no-queries", "--video-kbps", "1000")
    inside = sb.start_tool("vb-viewer", "--seconds", "6", "--quiet-video")
    stranger = outside.start_tool("vb-viewer", "--box", outside.box_address + ":4242", "--seconds", "6",
                                  "--quiet-video")
    sb.expect(si.wait_exit(sb, inside, 30) == 0 and si.wait_exit(sb, stranger, 30) == 0, "viewers did not finish")
    _, acks, dgrams, _ = viewer_summary(sb, inside)
    sb.expect(acks == 1 and dgrams > 0, "the inside viewer: %d acks, %d video datagrams" % (acks, dgrams))
    got = viewer_summary(sb, stranger)
    sb.expect(got[:3] == (0, 0, 0), "the outside viewer: messages, acks, video %r" % (got[:3],))
    sb.expect("client connected from " + outside.address not in daemon.stderr_text(), "outside viewer registered")
    # Six connect requests, one line.
    sb.expect(refusals(daemon, "viewer", outside.address) == 1,
              "refusal lines: %r" % [l for l in daemon.stderr_text().splitlines() if l.startswith("refused")])
    # The same host's address inside the link's network is a viewer like any other.
    replies, out = send(sb, outside.start, "--from", outside.peer_address, "--listen", "3",
                        outside.box_address + ":4242", "connect-data-only")
    sb.expect("reply 1 42\n" in out, "no acknowledgement from inside the link's network: %r" % out)


def test_commands_from_outside_change_nothing(sb):
    daemon = si.start_daemon(sb)
    outside = sb.outside_host()
    camera = sb.start_tool("vb-camera", "--still", "--quiet")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "camera link did not come up")
    box = outside.box_address + ":4242"
    send(sb, outside.start, box, 'json:{"cmd":"reboot"}',
         'json:{"cmd":"updateparam","name":"osd_borders","value":"300","value2":"20"}',
         "gimbal:0,900,-300", "attitude:32767,0,0,0", "connect", "disconnect")
    # A command from inside the link's network, sent after them, marks when they were handled.
    send(sb, outside.start, "--from", outside.peer_address, box, 'json:{"cmd":"shutdown"}')
    sb.expect(sb.wait_until(lambda: "shutdown " in sb.stub_log(), 15), "the inside command was not run")
    log = sb.stub_log()
    sb.expect("reboot " not in log and not any(l.startswith("mount") for l in log), "stub log %r" % log)
    sb.expect(not os.path.exists(BOOT_FILE), "settings saved from outside")
    sb.expect(si.count_prefix(camera, "camera gimbal angle") == 0, "the gimbal moved for an outsider")
    sb.expect(refusals(daemon, "viewer", outside.address) == 1, "not one refusal line")
    # The same gimbal message from inside moves it.
    send(sb, outside.start, "--from", outside.peer_address, box, "gimbal:0,900,-300")
    sb.expect(si.wait_line(camera, "camera gimbal angle", timeout=10) is not None, "gimbal control from inside")


SLOT_TAKER = """
import socket, sys, time
box = (sys.argv[1], 4242)
sockets = []
for _ in range(20):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((sys.argv[2], 0))
    s.settimeout(0.05)
    sockets.append(s)
acked = set()
deadline = time.monotonic() + 3
while time.monotonic() < deadline:
    for i, s in enumerate(sockets):
        s.sendto(b"B" + bytes(11) + bytes([0, 1]), box)
        try:
            if s.recv(64)[:1] == b"B":
                acked.add(i)
        except socket.timeout:
            pass
print("acked %d" % len(acked), flush=True)
"""


def test_video_only_from_the_camera_link_and_four_viewer_slots_an_address(sb):
    daemon = si.start_daemon(sb)
    outside = sb.outside_host()
    link = sb.camera_link()
    viewer = si.start_viewer(sb, "--quiet-video")
    send(sb, outside.start, "--repeat", "50", "--gap", "0.01", outside.box_address + ":5000", "video:1400")
    send(sb, sb.start, "--from", "127.0.0.2", "--repeat", "50", "--gap", "0.01", "127.0.0.1:5000", "video:1200")
    # Video from the camera link, sent after it, is relayed: what came before it was not.
    send(sb, link.start, "--repeat", "20", "--gap", "0.01", link.box_address + ":5000", "video:1000")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=10), "video from the camera link not taken")
    sb.stop(viewer)
    _, _, dgrams, size = viewer_summary(sb, viewer)
    sb.expect((dgrams, size) == (20, 20 * 1000), "viewer got %d datagrams, %d bytes" % (dgrams, size))
    refused = [l for l in daemon.stderr_text().splitlines() if l.startswith("refused video datagrams")]
    sb.expect(refused == ["refused video datagrams from %s: not on the camera link usb0" % outside.address],
              "refusal lines: %r" % refused)
    # One address takes at most four viewer slots.
    taker = outside.start_python(SLOT_TAKER, outside.box_address, outside.peer_address)
    sb.expect(si.wait_exit(sb, taker, 30) == 0, "slot taker failed: %r" % taker.stderr_text())
    acked = int(re.search(r"acked (\d+)", taker.stdout_text()).group(1))
    print("  20 sockets from one address: %d slots" % acked)
    sb.expect(acked == 4, "one address took %d slots" % acked)
    viewer = si.start_viewer(sb, "--data-only")
    refused = [l for l in daemon.stderr_text().splitlines() if l.startswith("viewer registrations from")]
    sb.expect(refused == ["viewer registrations from %s refused: 4 viewers from one address at most"
                          % outside.peer_address], "refusal lines: %r" % refused)


if __name__ == "__main__":
    sandbox.main([
        test_only_the_camera_link_speaks_for_the_camera,
        test_viewer_outside_gets_no_acknowledgement_and_no_video,
        test_commands_from_outside_change_nothing,
        test_video_only_from_the_camera_link_and_four_viewer_slots_an_address,
    ])
