"""Only the box's own peers drive it. Junk on the camera port from a second
loopback address changes nothing; viewers, commands and video from a host
outside the box's connected networks (the sandbox's outside host, reached only
through a route) are refused, while the same datagrams from inside are served."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

SENDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "send_datagrams.py")
BOOT_FILE = "/boot/vantagebridge-cable.conf"


def start(sb):
    return si.start_daemon(sb)


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


def test_junk_on_the_camera_port_does_not_divert_the_answers(sb):
    start(sb)
    camera = sb.start_tool("vb-camera", "--still", "--quiet", "--query-every", "1", "--seconds", "7")
    sb.expect(si.wait_line(camera, "answer ok", timeout=15) is not None, "camera not answered")
    # Two seconds of junk from another address inside the box's networks.
    replies, _ = send(sb, sb.start, "--from", "127.0.0.2", "--repeat", "40", "--gap", "0.05", "--listen", "1",
                      "127.0.0.1:5001", "empty", "hex:78", "keepalive:bad-checksum", "keepalive:bad-header",
                      "keepalive:bad-length")
    sb.expect(replies == 0, "the junk's sender got %d answers" % replies)
    sb.expect(si.wait_exit(sb, camera, 30) == 0, "camera did not finish")
    summary = si.wait_line(camera, "summary ", timeout=5) or ""
    m = re.search(r"answers ok=(\d+) mismatch=(\d+) missing=(\d+)", summary)
    sb.expect(m and int(m.group(1)) >= 7 and m.group(2) == "0" and m.group(3) == "0",
              "camera answers: %r" % summary)
    # An intact frame from the same address is the camera speaking: answered there.
    _, out = send(sb, sb.start, "--from", "127.0.0.2", "--listen", "3", "127.0.0.1:5001", "keepalive")
    sb.expect("\nreply 14 " in out, "an intact query from 127.0.0.2 was not answered: %r" % out)


def test_viewer_outside_gets_no_acknowledgement_and_no_video(sb):
    daemon = start(sb)
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
    daemon = start(sb)
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


def test_video_from_outside_is_not_relayed(sb):
    daemon = start(sb)
    outside = sb.outside_host()
    viewer = sb.start_tool("vb-viewer", "--quiet-video")
    sb.expect(si.wait_line(viewer, "ack", timeout=15) is not None, "viewer not acknowledged")
    send(sb, outside.start, "--repeat", "50", "--gap", "0.01", outside.box_address + ":5000", "video:1400")
    # Video from inside, sent after it, is relayed: what came before it from outside was not.
    send(sb, sb.start, "--from", "127.0.0.2", "--repeat", "20", "--gap", "0.01", "127.0.0.1:5000", "video:1000")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=10), "video from inside not taken")
    sb.stop(viewer)
    _, _, dgrams, size = viewer_summary(sb, viewer)
    sb.expect((dgrams, size) == (20, 20 * 1000), "viewer got %d datagrams, %d bytes" % (dgrams, size))
    sb.expect(refusals(daemon, "video", outside.address) == 1, "not one refusal line")


if __name__ == "__main__":
    sandbox.main([
        test_junk_on_the_camera_port_does_not_divert_the_answers,
        test_viewer_outside_gets_no_acknowledgement_and_no_video,
        test_commands_from_outside_change_nothing,
        test_video_from_outside_is_not_relayed,
    ])
