"""The gimbal stops when what drove it goes: the RC reader leaving its running
status mid-pan, the viewer that set a speed falling silent or saying goodbye.
The real daemon runs in the sandbox with the camera stand-in receiving the
frames; every other viewer's comings and goings leave the motion alone."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

RC_CONFIG = """control_enabled=1
device_mode=0
rc_input_enabled=1
rc_input_map=pan,tilt
rc_input_speed_pan=50
rc_input_speed_tilt=50
"""

SPEED = "20 02>04 40 04:0C"
PAN_1000 = SPEED + " | E8 03 00 00 00 00 90"
PAN_500 = SPEED + " | F4 01 00 00 00 00 90"
STOP = SPEED + " | 00 00 00 00 00 00 90"


def start(sb, config="control_enabled=1\n"):
    sb.write_config(config)
    daemon = sb.start_daemon()
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start")
    camera = sb.start_tool("vb-camera", "--still", "--no-queries", "--quiet")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "link did not come up")
    return daemon, camera


def speeds(camera, since=0):
    return [f.text for f in si.frames(camera, since) if f.text.startswith(SPEED)]


def expect_moving(sb, camera, moving, since, count=10, why="the gimbal did not move"):
    sb.expect(sb.wait_until(lambda: speeds(camera, since).count(moving) >= count, timeout=10),
              "%s: %r" % (why, speeds(camera, since)[-3:]))


def expect_stopped(sb, camera, moving, since):
    """One stop frame after the last moving one, then no speed frame for two
    more watchdog passes (each dates the camera once)."""
    sb.expect(sb.wait_until(lambda: STOP in speeds(camera, since), timeout=10),
              "no stop frame: %r" % speeds(camera, since)[-3:])
    stop_line = next(i for i, l in enumerate(si.lines(camera))
                     if i >= since and si.RX.match(l) and si.Frame(si.RX.match(l)).text == STOP)
    dated = lambda: sum(1 for f in si.frames(camera, stop_line) if f.set == 0x02 and f.id == 0x54)
    sb.expect(sb.wait_until(lambda: dated() >= 2, timeout=10), "the watchdog stopped")
    after = speeds(camera, stop_line)
    sb.expect(after == [STOP], "speed frames after the stop: %r" % after[:5])
    sb.expect(moving not in after, "the gimbal moved on")


def viewer_port(viewer):
    line = si.wait_line(viewer, "vb-viewer ", timeout=10)
    m = re.search(r"from port (\d+)", line or "")
    if not m:
        raise AssertionError("viewer did not say its port: %r" % line)
    return int(m.group(1))


def test_rc_status_leaving_six_mid_pan_stops_the_gimbal(sb):
    daemon, camera = start(sb, RC_CONFIG)
    mark = len(si.lines(camera))
    rc = sb.start_tool("vb-rc", "--script", "t=0 pan=0.5 tilt=0")
    sb.expect(si.wait_exit(sb, rc, 20) == 0, "vb-rc failed: %r" % rc.stderr_text())
    expect_moving(sb, camera, PAN_1000, mark, why="the stick did not pan")
    # The reader stops with the stick still deflected.
    mark = len(si.lines(camera))
    rc = sb.start_tool("vb-rc", "--status", "3")
    sb.expect(si.wait_exit(sb, rc, 20) == 0, "vb-rc failed: %r" % rc.stderr_text())
    expect_stopped(sb, camera, PAN_1000, mark)


def test_silent_viewer_stops_its_speed_and_only_its_own(sb):
    daemon, camera = start(sb)
    mark = len(si.lines(camera))
    driver = sb.start_tool("vb-viewer", "--data-only", "--gimbal", "1,500,0")
    driver_port = viewer_port(driver)
    other = sb.start_tool("vb-viewer", "--data-only")
    other_port = viewer_port(other)
    expect_moving(sb, camera, PAN_500, mark, why="the viewer's speed did not move the gimbal")

    # Another viewer falls silent and expires: the motion goes on, and the
    # driver, still registering, keeps it past its own five seconds.
    other.popen.kill()
    other.popen.wait()
    sb.expect(sb.wait_for(daemon, "Client 127.0.0.1:%d lost\n" % other_port, timeout=15), "other viewer not expired")
    mark = len(si.lines(camera))
    expect_moving(sb, camera, PAN_500, mark, why="another viewer's silence stopped the gimbal")

    # The driver falls silent (killed: no goodbye) and expires: its speed ends.
    driver.popen.kill()
    driver.popen.wait()
    mark = len(si.lines(camera))
    sb.expect(sb.wait_for(daemon, "Client 127.0.0.1:%d lost\n" % driver_port, timeout=15), "driver not expired")
    expect_stopped(sb, camera, PAN_500, mark)


def test_viewer_goodbye_stops_its_speed(sb):
    daemon, camera = start(sb)
    mark = len(si.lines(camera))
    driver = sb.start_tool("vb-viewer", "--data-only", "--gimbal", "1,500,0")
    port = viewer_port(driver)
    expect_moving(sb, camera, PAN_500, mark, why="the viewer's speed did not move the gimbal")
    mark = len(si.lines(camera))
    sb.stop(driver)  # a viewer that ends says goodbye
    sb.expect(sb.wait_for(daemon, "client 127.0.0.1:%d removed\n" % port, timeout=10), "no goodbye")
    expect_stopped(sb, camera, PAN_500, mark)


if __name__ == "__main__":
    sandbox.main([
        test_rc_status_leaving_six_mid_pan_stops_the_gimbal,
        test_silent_viewer_stops_its_speed_and_only_its_own,
        test_viewer_goodbye_stops_its_speed,
    ])
