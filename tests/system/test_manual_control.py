"""Manual control end to end: the RC stand-in (vb-rc, acting as the RC reader)
writes stick values into "/hud_mem"; the real daemon's RC loop turns them into
camera frames, which the camera stand-in (vb-camera) receives."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

RC_CONFIG = """control_enabled=1
device_mode=0
rc_input_enabled=1
rc_input_map=pan,tilt,record,center
rc_input_speed_pan=50
rc_input_speed_tilt=50
"""

PAN_1000 = "20 02>04 40 04:0C | E8 03 00 00 00 00 90"
STOP = "20 02>04 40 04:0C | 00 00 00 00 00 00 90"
RECORD_START = "23 09>01 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90"
RECORD_STOP = "23 09>01 00 01:01 | 04 00 00 00 00 91 0D 00 00 98"
SHOT_PRESS_G = "23 09>04 40 01:01 | 30 00 00 00 00 91 00 01 00 A0"
SHOT_PRESS_C = "23 09>01 40 01:01 | 30 00 00 00 00 91 00 01 00 A0"
SHOT_RELEASE_G = "23 09>04 40 01:01 | 00 00 00 00 00 91 00 00 00 91"
SHOT_RELEASE_C = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91"
POSITION_0_G = "23 09>04 40 01:01 | 00 00 00 00 01 91 00 00 00 90"
POSITION_0_C = "23 09>01 40 01:01 | 00 00 00 00 01 91 00 00 00 90"
CENTRED = [POSITION_0_G, POSITION_0_C] * 2 + [SHOT_RELEASE_G, SHOT_RELEASE_C] * 2


def start(sb):
    daemon = si.start_daemon(sb, RC_CONFIG)
    camera = si.start_camera(sb, daemon)
    return daemon, camera, si.start_status_viewer(sb)


def run_rc(sb, script, timeout=30):
    rc = sb.start_tool("vb-rc", "--script", script)
    sb.expect(si.wait_exit(sb, rc, timeout) == 0, "vb-rc failed: %r" % rc.stderr_text())


def test_rc_pan_moves_the_gimbal_and_stops_it(sb):
    daemon, camera, _ = start(sb)
    mark = len(si.lines(camera))
    run_rc(sb, "t=0 pan=0.5 tilt=0; t=2 pan=0")
    sb.expect(sb.wait_until(lambda: STOP in [f.text for f in si.frames(camera, mark)], timeout=10),
              "no stop frame: %r" % [f.text for f in si.frames(camera, mark)][-5:])
    speed = [f.text for f in si.frames(camera, mark) if f.set == 0x04 and f.id == 0x0C]
    moving = [t for t in speed if t == PAN_1000]
    # The loop repeats the moving speed every 20 ms pass for the two seconds.
    sb.expect(len(moving) >= 20, "too few repeats of the pan speed: %d of %r" % (len(moving), speed[:3]))
    sb.expect(set(speed) <= {PAN_1000, STOP}, "other speed frames: %r" % sorted(set(speed)))
    last_move = max(i for i, t in enumerate(speed) if t == PAN_1000)
    first_stop = speed.index(STOP)
    sb.expect(first_stop > last_move, "the gimbal moved on after the stop")
    sb.expect(speed.count(STOP) == 1, "stop sent %d times" % speed.count(STOP))
    out = camera.stdout_text()
    sb.expect("camera gimbal speed" in out and "camera gimbal stop" in out, "camera did not follow the speed")


def test_rc_record_switch_starts_and_stops_recording(sb):
    daemon, camera, _ = start(sb)
    mark = len(si.lines(camera))
    run_rc(sb, "t=0 record=-1; t=1 record=1; t=3 record=-1")
    # The whole stop sequence: the log line follows its last frame.
    sb.expect(sb.wait_for(daemon, "record stop\n", timeout=10),
              "no record stop: %r" % [f.text for f in si.frames(camera, mark)][-5:])
    sb.wait_until(lambda: [f.text for f in si.frames(camera, mark)].count(RECORD_STOP) >= 4, timeout=5)
    texts = [f.text for f in si.frames(camera, mark)]
    sb.expect(texts.count(RECORD_START) == 4 and texts.count(RECORD_STOP) == 4,
              "record frames: %d starts, %d stops" % (texts.count(RECORD_START), texts.count(RECORD_STOP)))
    sb.expect(texts.index(RECORD_START) < texts.index(RECORD_STOP), "stop before start")
    err = daemon.stderr_text()
    sb.expect("record start\n" in err and "record stop\n" in err, "record log lines missing")
    out = camera.stdout_text()
    sb.expect("camera record on" in out and "camera record off" in out, "camera did not follow the recording")


def test_rc_record_switch_in_photo_mode_takes_one_photo(sb):
    daemon, camera, viewer = start(sb)
    sender = sb.start_tool("vb-viewer", "--no-register", "--seconds", "0.6", "--quiet-video", "--send",
                           json.dumps({"cmd": "camera", "param": "mode", "value1": "photo"}))
    si.wait_exit(sb, sender, 10)
    mark_viewer = len(si.lines(viewer))
    sb.expect(si.wait_line(viewer, "camera-status work_mode=0", since=mark_viewer, timeout=10),
              "camera did not report photo mode")
    mark = len(si.lines(camera))
    # The centring goes the same ordered way as the capture keys: once it has
    # run, anything the switch going down set off has run before it.
    run_rc(sb, "t=0 record=-1; t=1 record=1; t=2 record=-1; t=3 center=1")
    want = [SHOT_PRESS_G, SHOT_PRESS_G, SHOT_PRESS_C, SHOT_PRESS_C,
            SHOT_RELEASE_G, SHOT_RELEASE_G, SHOT_RELEASE_C, SHOT_RELEASE_C]
    sb.expect(sb.wait_until(lambda: si.find_run(si.frames(camera, mark), want) is not None, timeout=10),
              "shot frames: %r" % [f.text for f in si.frames(camera, mark)][-10:])
    sb.expect(sb.wait_until(lambda: si.find_run(si.frames(camera, mark), CENTRED) is not None, timeout=10),
              "the centring did not reach the camera")
    # Switching back down in photo mode only clears the latch: no second shot, no recording.
    texts = [f.text for f in si.frames(camera, mark)]
    sb.expect(texts.count(SHOT_PRESS_C) == 2, "more than one photo: %d presses" % texts.count(SHOT_PRESS_C))
    sb.expect(RECORD_START not in texts and RECORD_STOP not in texts, "recording frames in photo mode")
    sb.expect(camera.stdout_text().count("camera shot") == 1, "camera counted %d shots" %
              camera.stdout_text().count("camera shot"))


if __name__ == "__main__":
    sandbox.main([
        test_rc_pan_moves_the_gimbal_and_stops_it,
        test_rc_record_switch_starts_and_stops_recording,
        test_rc_record_switch_in_photo_mode_takes_one_photo,
    ])
