"""Camera commands end to end: JSON commands from vb-viewer through the real
daemon reach vb-camera as the exact frames (receiver, set, id, payload), in
order, and every frame the box originates carries the next sequence number."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

# (command, frames the camera must receive for it, in this order). The camera
# stand-in reports video mode, focus mode AF with a focus range of 1000 and no
# focus assistant bits, and shot mode single.
RECORD_START = "23 09>01 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90"
RECORD_START_G = "23 09>04 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90"
RECORD_STOP = "23 09>01 00 01:01 | 04 00 00 00 00 91 0D 00 00 98"
RECORD_STOP_G = "23 09>04 00 01:01 | 04 00 00 00 00 91 0D 00 00 98"
RECORD_RELEASE = "23 09>01 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C"
RECORD_RELEASE_G = "23 09>04 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C"

COMMANDS = [
    # First, so that the box stops setting the camera clock every second.
    ({"cmd": "time", "value1": "20240131235958"}, ["20 02>01 40 02:54 | E8 07 01 1F 17 3B 3A"]),
    ({"cmd": "iso", "param": "400"}, ["14 02>01 40 02:2A | 05"]),
    ({"cmd": "iso", "param": "auto"}, ["14 02>01 40 02:2A | 00"]),
    ({"cmd": "ev", "param": "-1.7"}, ["14 02>01 40 02:2E | 0B"]),
    ({"cmd": "shutter", "param": "1000"}, ["17 02>01 40 02:28 | 01 E8 83 00"]),
    ({"cmd": "shutter", "param": "3.2s"}, ["17 02>01 40 02:28 | 01 03 00 02"]),
    ({"cmd": "aperture", "param": "2.8"}, ["15 02>01 40 02:26 | 18 01"]),
    ({"cmd": "video_mode", "param": "manual"}, ["15 02>01 40 02:1E | 04 00"]),
    ({"cmd": "horizont", "param": "cw"}, ["14 02>04 40 04:07 | FD"]),
    ({"cmd": "horizont", "param": "calibrate"},
     ["14 02>04 40 04:07 | 00", "21 09>04 20 04:01 | 00 04 00 04 00 04 80 00", "13 02>04 40 04:08"]),
    ({"cmd": "scenemode", "param": "sport"}, ["21 02>04 40 04:35 | FF FF FF 02 FF FF FF FF"]),
    ({"cmd": "zoomadjustedsmoothtrack", "value1": "7"}, ["21 02>04 40 04:35 | FF FF FF FF FF 07 FF FF"]),
    ({"cmd": "video_resolution", "param": "1920x1080@30"},
     ["18 02>01 40 02:18 | 0A 03 00 00 00", "15 02>01 40 02:AF | 0A 03"]),
    ({"cmd": "zoom", "param": "0", "value1": "40"}, ["18 02>01 40 02:34 | 09 00 00 8C 00"]),
    ({"cmd": "focus", "param": "mfa", "value1": "1"}, ["14 02>01 40 02:9A | 01"]),
    ({"cmd": "focus", "param": "manual", "value1": "50"},
     ["14 02>01 40 02:24 | 00", "15 02>01 40 02:95 | F4 01"]),
    ({"cmd": "focus", "param": "type", "value1": "afunlim"},
     ["14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 01"]),
    ({"cmd": "position", "param": "move", "value1": "100", "value2": "-50"},
     ["23 02>04 40 04:0A | 64 00 00 00 CE FF 64 00 E0 04"]),
    ({"cmd": "power", "param": "wakeup"}, ["14 02>09 40 09:51 | 02"]),
    ({"cmd": "resetcamera"}, ["14 02>01 40 02:78 | 00"]),
    ({"cmd": "record", "param": "start"},
     [RECORD_START, RECORD_START_G] * 4 + [RECORD_RELEASE, RECORD_RELEASE_G] * 4),
    ({"cmd": "record", "param": "stop"},
     [RECORD_STOP, RECORD_STOP_G] * 4 + [RECORD_RELEASE, RECORD_RELEASE_G] * 4),
    ({"cmd": "camera", "param": "mode", "value1": "photo"},
     ["14 09>01 40 02:10 | 00", "14 09>01 40 02:10 | 00"]),
]

# Commands that must send nothing at all.
SILENT = [
    {"cmd": "iso", "param": "12800"},
    {"cmd": "Horizont", "param": "cw"},
    {"cmd": "power", "param": "reboot"},
    {"cmd": "ev", "param": "0.5"},
]


def start(sb):
    sb.write_config("control_enabled=1\ndevice_mode=0\n")
    daemon = sb.start_daemon()
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start")
    # No queries: every frame that reaches the camera is then one the box
    # originates, numbered by its sequence counter.
    camera = sb.start_tool("vb-camera", "--still", "--no-queries", "--quiet")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "link did not come up")
    # Let the focus and status reports arrive before the commands that read them.
    viewer = sb.start_tool("vb-viewer", "--data-only")
    sb.expect(si.wait_line(viewer, "focus mode=1", timeout=15), "no focus report reached the box")
    sb.expect(si.wait_line(viewer, "camera-status work_mode=1", timeout=15), "no status report reached the box")
    return daemon, camera


def send(sb, command):
    text = json.dumps(command, separators=(",", ":"))
    sender = sb.start_tool("vb-viewer", "--no-register", "--send", text, "--seconds", "0.6", "--quiet-video")
    sb.expect(si.wait_exit(sb, sender, 10) == 0, "viewer did not send %s" % text)
    sb.expect(("sent json " + text) in sender.stdout_text(), "viewer output %r" % sender.stdout_text())


def test_commands_reach_the_camera_as_exact_frames(sb):
    daemon, camera = start(sb)
    for command, wanted in COMMANDS:
        mark = len(si.lines(camera))
        send(sb, command)
        ok = sb.wait_until(lambda: si.find_in_order(si.frames(camera, mark), wanted) is not None, timeout=10)
        got = [f.text for f in si.frames(camera, mark)]
        sb.expect(ok, "%s: wanted %r, camera got %r" % (json.dumps(command), wanted, got))
        positions = si.find_in_order(si.frames(camera, mark), wanted)
        run = [si.frames(camera, mark)[i] for i in positions]
        seqs = [f.seq for f in run]
        sb.expect(all((b - a) % 65536 == 1 for a, b in zip(seqs, seqs[1:])),
                  "%s: frames not numbered one after another: %r" % (json.dumps(command), run))

    # Every frame the box sent carries the next number: none lost, none repeated.
    everything = si.frames(camera)
    sb.expect(all(f.crc_ok for f in everything), "frames with bad checksums: %r" %
              [f for f in everything if not f.crc_ok][:3])
    seqs = sorted(f.seq for f in everything)
    sb.expect(seqs == list(range(seqs[0], seqs[0] + len(seqs))),
              "sequence numbers not one after another: %r" % seqs[:40])

    err = daemon.stderr_text()
    for line in ["set iso 400\n", "set EV -1.7\n", "set shutter 1000\n", "set aperture 2.80\n",
                 "roll horizont clockwise\n", "full calibrate\n", "set scene mode sport\n",
                 "set video resolution 1920x1080@30\n", "Digital zoom 40%\n", "set MF assistant to 1\n",
                 "set manual focus 500 (50.00%)\n", "Power set wakeup\n", "record start\n", "record stop\n",
                 "set mode photo\n"]:
        sb.expect(line in err, "daemon did not log %r" % line)
    # The camera stand-in followed the recording.
    sb.expect("camera record on" in camera.stdout_text() and "camera record off" in camera.stdout_text(),
              "camera did not see the recording start and stop")


def test_unknown_and_out_of_table_commands_send_nothing(sb):
    daemon, camera = start(sb)
    send(sb, COMMANDS[0][0])  # stop the clock sync, so the camera hears nothing unasked
    sb.expect(sb.wait_until(lambda: any(f.set == 0x02 and f.id == 0x54 for f in si.frames(camera)), timeout=10),
              "time frame not seen")
    mark = len(si.lines(camera))
    for command in SILENT:
        send(sb, command)
    # A command that does send, as a marker that the ones before it were handled.
    send(sb, {"cmd": "resetcamera"})
    sb.expect(sb.wait_until(lambda: any(f.text == "14 02>01 40 02:78 | 00" for f in si.frames(camera, mark)),
                            timeout=10), "marker command not seen")
    # A clock frame already on its way when the time command arrived may still come.
    got = [f.text for f in si.frames(camera, mark) if not (f.set == 0x02 and f.id == 0x54)]
    sb.expect(got == ["14 02>01 40 02:78 | 00"], "silent commands sent frames: %r" % got)
    sb.expect("Power set reboot\n" in daemon.stderr_text(), "power with an unknown state was not logged")


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
        sb.expect(sb.wait_until(lambda: si.find_in_order(si.frames(camera, mark), wanted) is not None, timeout=10),
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
    sb.write_config("control_enabled=1\ndevice_mode=1\ncooperative_mode=0\n")
    daemon = sb.start_daemon()
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start")
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
        test_commands_reach_the_camera_as_exact_frames,
        test_unknown_and_out_of_table_commands_send_nothing,
        test_commands_by_name,
        test_gimbal_control_and_attitude_from_the_viewer,
        test_carrier_attitude_stops_after_a_client_attitude,
    ])
