"""Camera commands end to end: the commands of the golden command table
(tests/golden/camera_commands.json) go as viewer datagrams through the real
daemon and reach vb-camera as the exact frames (receiver, set, id, payload), in
order, with no other frame between or after them; every frame the box
originates carries the next sequence number, and a command without frames
sends nothing at all."""

import json
import os
import socket
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden", "camera_commands.json")
BOX_PORT = 4242

# Sent after commands that must stay silent: once its frame arrives, the ones
# before it have been handled.
MARKER = {"cmd": "resetcamera"}
MARKER_FRAME = "14 02>01 40 02:78 | 00"


def golden_rows():
    """The table's rows the stand-in camera can play: those of the camera state it reports."""
    with open(GOLDEN) as f:
        table = json.load(f)
    return [row for row in table["rows"] if "given" not in row and "system" not in row]


def start(sb):
    daemon = si.start_daemon(sb, "control_enabled=1\ndevice_mode=0\n")
    # No queries: every frame that reaches the camera is then one the box
    # originates, numbered by its sequence counter.
    camera = si.start_camera(sb, daemon)
    # Let the focus and status reports arrive before the commands that read them.
    viewer = sb.start_tool("vb-viewer", "--data-only")
    sb.expect(si.wait_line(viewer, "focus mode=1", timeout=15), "no focus report reached the box")
    sb.expect(si.wait_line(viewer, "camera-status work_mode=1", timeout=15), "no status report reached the box")
    return daemon, camera


class Viewer:
    """A viewer that sends JSON commands as data datagrams, without registering."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sequence = 0

    def send(self, command):
        text = json.dumps(command, separators=(",", ":")).encode()
        self.sequence += 1
        header = b"B" + bytes(3) + struct.pack("<I", self.sequence) + bytes(4)
        self.sock.sendto(header + text, ("127.0.0.1", BOX_PORT))


def test_golden_commands_reach_the_camera_as_exact_frames(sb):
    daemon, camera = start(sb)
    # The rows start from a stopped gimbal, as a viewer's zero speed leaves it
    # (sending nothing); the box starts up not knowing.
    stopper = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--quiet-video", "--gimbal", "1,0,0")
    sb.expect(si.wait_exit(sb, stopper, 10) == 0, "the zero speed was not sent")
    viewer = Viewer()
    silent = []
    # Every frame after the start belongs to a row, but for the clock frames the
    # box sends every second until the first row sets the time.
    start_line = len(si.lines(camera))
    table_frames = {text for row in golden_rows() for text in row["frames"]}
    arrived = lambda: [f for f in si.frames(camera, start_line) if not (si.is_clock(f) and f.text not in table_frames)]
    taken = [0]  # frames of arrived() the rows so far accounted for

    def take(what, count, until):
        sb.expect(sb.wait_until(lambda: until(arrived()[taken[0]:]), timeout=10),
                  "%s: camera got %r" % (what, [f.text for f in arrived()[taken[0]:]]))
        got = arrived()[taken[0]:taken[0] + count]
        taken[0] += len(got)
        return got

    def check_silent():
        for command in silent:
            viewer.send(command)
        viewer.send(MARKER)
        got = take("marker after %r" % silent, 1, lambda frames: any(f.text == MARKER_FRAME for f in frames))
        sb.expect([f.text for f in got] == [MARKER_FRAME], "silent commands %r sent frames: %r" % (silent, got))
        del silent[:]

    for row in golden_rows():
        command, wanted = row["send"], row["frames"]
        if not wanted:
            silent.append(command)
            continue
        if silent:
            check_silent()
        viewer.send(command)
        # Exactly the row's frames, one after another: an extra frame would
        # stand among them or ahead of the next row's.
        run = take(json.dumps(command), len(wanted), lambda frames: len(frames) >= len(wanted))
        sb.expect([f.text for f in run] == wanted, "%s: wanted %r, camera got %r" % (json.dumps(command), wanted,
                                                                                     [f.text for f in run]))
        seqs = [f.seq for f in run]
        sb.expect(all((b - a) % 65536 == 1 for a, b in zip(seqs, seqs[1:])),
                  "%s: frames not numbered one after another: %r" % (json.dumps(command), run))
    check_silent()  # and nothing after the last row

    # Every frame the box sent carries the next number: none lost, none repeated.
    everything = si.frames(camera)
    sb.expect(all(f.crc_ok for f in everything), "frames with bad checksums: %r" %
              [f for f in everything if not f.crc_ok][:3])
    seqs = sorted(f.seq for f in everything)
    sb.expect(seqs == list(range(seqs[0], seqs[0] + len(seqs))),
              "sequence numbers not one after another: %r" % seqs[:40])

    # Some sequences log from a worker after their last frame: wait for the lines.
    for line in ["set iso 400\n", "set EV -1.7\n", "set shutter 1000\n", "set aperture 2.80\n",
                 "roll horizont clockwise\n", "full calibrate\n", "set scene mode sport\n",
                 "set video resolution 1920x1080@30\n", "Digital zoom 37%\n", "set MF assistant to 1\n",
                 "set manual focus 500 (50.00%)\n", "Power set wakeup\n", "Power set reboot\n", "record start\n",
                 "record stop\n", "set mode photo\n"]:
        sb.expect(sb.wait_until(lambda: line in daemon.stderr_text(), timeout=10), "daemon did not log %r" % line)
    # The camera stand-in followed the recording.
    sb.expect("camera record on" in camera.stdout_text() and "camera record off" in camera.stdout_text(),
              "camera did not see the recording start and stop")


def test_commands_by_name(sb):
    # vb-viewer builds the command text from the box's own vocabulary list.
    _, camera = start(sb)
    for args, wanted in [(["iso", "800"], ["14 02>01 40 02:2A | 06"]),
                         (["horizont/ccw"], ["14 02>04 40 04:07 | 03"]),
                         (["video_resolution", "1280x720@60"],
                          ["18 02>01 40 02:18 | 04 06 00 00 00", "15 02>01 40 02:AF | 04 06"])]:
        mark = len(si.lines(camera))
        sender = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--quiet-video", "--command", *args)
        sb.expect(si.wait_exit(sb, sender, 10) == 0, "viewer failed for %r" % args)
        sb.expect("sent json {" in sender.stdout_text(), "no command sent for %r: %r" % (args, sender.stdout_text()))
        sb.expect(sb.wait_until(lambda: si.find_run(si.frames(camera, mark), wanted) is not None, timeout=10),
                  "%r: wanted %r, got %r" % (args, wanted, [f.text for f in si.frames(camera, mark)]))
    bad = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--command", "nosuchcommand")
    si.wait_exit(sb, bad, 10)
    sb.expect("error unknown command nosuchcommand" in bad.stdout_text(), "unknown name not refused")


def test_gimbal_control_and_attitude_from_the_viewer(sb):
    _, camera = start(sb)

    def viewer_sends(*args):
        mark = len(si.lines(camera))
        sender = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--quiet-video", *args)
        sb.expect(si.wait_exit(sb, sender, 10) == 0, "viewer failed for %r" % (args,))
        return mark

    # Selector 0: an absolute angle (pan 100, tilt -50, dutch 0).
    mark = viewer_sends("--gimbal", "0,100,-50")
    angle = "23 02>04 40 04:0A | 64 00 00 00 CE FF 64 00 E0 04"
    sb.expect(sb.wait_until(lambda: angle in [f.text for f in si.frames(camera, mark)], timeout=10),
              "no angle frame: %r" % [f.text for f in si.frames(camera, mark)])

    # Selector 1: a speed, which the box repeats until the zero speed stops it.
    moving = "20 02>04 40 04:0C | 2C 01 00 00 00 00 90"
    stop = "20 02>04 40 04:0C | 00 00 00 00 00 00 90"
    mark = viewer_sends("--gimbal", "1,300,0")
    sb.expect(sb.wait_until(lambda: [f.text for f in si.frames(camera, mark)].count(moving) >= 10, timeout=10),
              "speed not repeated: %r" % [f.text for f in si.frames(camera, mark)][-5:])
    viewer_sends("--gimbal", "1,0,0")
    sb.expect(sb.wait_until(lambda: stop in [f.text for f in si.frames(camera, mark)], timeout=10), "no stop frame")
    texts = [f.text for f in si.frames(camera, mark)]
    sb.expect(moving not in texts[texts.index(stop):], "the gimbal kept moving after the stop")

    # Attitude: the quaternion (1, 0, 0, 0) with the fourth component first.
    mark = viewer_sends("--attitude", "1,0,0,0")
    attitude = ("51 03>04 00 03:42 | 00 00 00 00 00 00 80 3F 00 00 00 00 00 00 00 00 00 00 80 00" +
                " 00" * 18)
    sb.expect(sb.wait_until(lambda: attitude in [f.text for f in si.frames(camera, mark)], timeout=10),
              "no attitude frame: %r" % [f.text for f in si.frames(camera, mark) if f.set == 0x03])


def test_carrier_attitude_stops_after_a_client_attitude(sb):
    # Working as Inspire without a flight controller, the box sends a level
    # carrier attitude every 100 loop passes, until a viewer sends its own.
    si.start_daemon(sb, "control_enabled=1\ndevice_mode=1\ncooperative_mode=0\n")
    camera = sb.start_tool("vb-camera", "--mode", "inspire", "--still", "--no-queries", "--quiet")
    level = "51 03>04 00 03:42 | 00 00 80 3F 00 00 00 00 00 00 00 00 00 00 00 80" + " 00" * 22

    def count(texts, text):
        return sum(1 for t in texts if t == text)

    sb.expect(sb.wait_until(lambda: count([f.text for f in si.frames(camera)], level) >= 2, timeout=20),
              "no periodic carrier attitude: %r" % [f.text for f in si.frames(camera) if f.set == 0x03][:3])
    sender = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--quiet-video",
                           "--attitude", "0,0,0,1")
    si.wait_exit(sb, sender, 10)
    client = "51 03>04 00 03:42 | 00 00 80 3F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 00" + " 00" * 18
    sb.expect(sb.wait_until(lambda: client in [f.text for f in si.frames(camera)], timeout=10),
              "client attitude not sent: %r" % [f.text for f in si.frames(camera) if f.set == 0x03][-3:])
    after = [f.text for f in si.frames(camera)].index(client)
    # Five clock frames (one a second) later, the level attitude has not come back.
    sb.expect(sb.wait_until(lambda: sum(1 for f in si.frames(camera)[after:] if f.set == 0x02 and f.id == 0x54) >= 5,
                            timeout=20), "clock frames stopped")
    sb.expect(count([f.text for f in si.frames(camera)[after:]], level) == 0,
              "level carrier attitude sent after the client's")


if __name__ == "__main__":
    sandbox.main([
        test_golden_commands_reach_the_camera_as_exact_frames,
        test_commands_by_name,
        test_gimbal_control_and_attitude_from_the_viewer,
        test_carrier_attitude_stops_after_a_client_attitude,
    ])
