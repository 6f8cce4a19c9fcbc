"""The gimbal stops when what drove it goes: the RC reader leaving its running
status mid-pan, the viewer that set a speed (by gimbal control or by a JSON
command) falling silent or saying goodbye, and so does an optical zoom a
viewer started; a speed from a sender that never registered, or from the
mailbox (the web page), ends unless repeated. The real daemon runs in the
sandbox with the camera stand-in receiving the frames; every other viewer's
comings and goings leave the motion alone."""

import os
import sys
import time

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
ZOOM = "17 02>01 40 02:B8"
ZOOM_IN = ZOOM + " | 01 48 01 00"
ZOOM_STOPS = [ZOOM + " | 00 48 00 00", ZOOM + " | FF 48 00 00"]


def start(sb, config="control_enabled=1\n"):
    daemon = si.start_daemon(sb, config)
    return daemon, si.start_camera(sb, daemon)


def speeds(camera, since=0, kind=SPEED):
    return [f.text for f in si.frames(camera, since) if f.text.startswith(kind)]


def expect_moving(sb, camera, moving, since, count=10, why="the gimbal did not move"):
    kind = moving.split(" | ")[0]
    sb.expect(sb.wait_until(lambda: speeds(camera, since, kind).count(moving) >= count, timeout=10),
              "%s: %r" % (why, speeds(camera, since, kind)[-3:]))


def expect_stopped(sb, camera, moving, since, stops=(STOP,)):
    """The stop frames after the last moving one, then no frame of the kind
    for two more watchdog passes (each dates the camera once)."""
    kind = moving.split(" | ")[0]
    sb.expect(sb.wait_until(lambda: stops[0] in speeds(camera, since, kind), timeout=10),
              "no stop frame: %r" % speeds(camera, since, kind)[-3:])
    stop_line = next(i for i, l in enumerate(si.lines(camera))
                     if i >= since and si.RX.match(l) and si.Frame(si.RX.match(l)).text == stops[0])
    dated = lambda: sum(1 for f in si.frames(camera, stop_line) if f.set == 0x02 and f.id == 0x54)
    sb.expect(sb.wait_until(lambda: dated() >= 2, timeout=10), "the watchdog stopped")
    after = speeds(camera, stop_line, kind)
    sb.expect(after == list(stops), "frames after the stop: %r" % after[:5])


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


def test_motions_a_viewer_starts_end_with_it(sb):
    """A viewer's motion belongs to it, whether set by gimbal control or by a
    JSON command: it ends when that viewer falls silent or says goodbye, and
    no other viewer's leaving ends it."""
    daemon, camera = start(sb)

    def leaves(viewer, port, silently):
        mark = len(si.lines(camera))
        if silently:
            viewer.popen.kill()  # no goodbye: it expires
            viewer.popen.wait()
        else:
            sb.stop(viewer)  # a viewer that ends says goodbye
        line = ("Client 127.0.0.1:%d lost\n" if silently else "client 127.0.0.1:%d removed\n") % port
        sb.expect(sb.wait_for(daemon, line, timeout=15), "%r not seen" % line)
        return mark

    def viewer(*args):
        v = sb.start_tool("vb-viewer", "--data-only", *args)
        return v, si.viewer_port(v)

    mark = len(si.lines(camera))
    driver, driver_port = viewer("--gimbal", "1,500,0")
    zoomer, zoomer_port = viewer("--command", "zoom", "-3", "1")
    other, other_port = viewer()
    expect_moving(sb, camera, PAN_500, mark, why="the viewer's speed did not move the gimbal")
    expect_moving(sb, camera, ZOOM_IN, mark, why="the command did not zoom")

    # Another viewer expires: both motions go on, the speed past its own
    # five seconds while its driver keeps registering.
    mark = leaves(other, other_port, silently=True)
    expect_moving(sb, camera, PAN_500, mark, why="another viewer's silence stopped the gimbal")
    expect_moving(sb, camera, ZOOM_IN, mark, why="another viewer's silence stopped the zoom")

    mark = leaves(driver, driver_port, silently=True)
    expect_stopped(sb, camera, PAN_500, mark)
    expect_moving(sb, camera, ZOOM_IN, len(si.lines(camera)), why="the driver's expiry stopped the zoom")

    mark = len(si.lines(camera))
    mover, mover_port = viewer("--command", "position/moverel", "500", "0")
    expect_moving(sb, camera, PAN_500, mark, why="the command's speed did not move the gimbal")
    mark = leaves(mover, mover_port, silently=False)
    expect_stopped(sb, camera, PAN_500, mark)
    expect_moving(sb, camera, ZOOM_IN, len(si.lines(camera)), why="the mover's goodbye stopped the zoom")

    mark = leaves(zoomer, zoomer_port, silently=False)
    expect_stopped(sb, camera, ZOOM_IN, mark, stops=ZOOM_STOPS)


SENDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "send_datagrams.py")
MOVEREL = b'{"cmd":"position","param":"moverel","value1":"500","value2":"0"}'


def post_to_mailbox(sb, text):
    """Writes a command into the mailbox as the web page does, once it is empty."""
    sb.expect(sb.wait_until(lambda: sb.read_hud(1570, 1) == b"\0", 10), "mailbox never emptied")
    sb.write_hud(1571, text[1:] + b"\0")
    sb.write_hud(1570, text[:1])


def seconds_to_stop(sb, camera, since, moving):
    """Seconds from the first moving frame seen to the stop frame, as the test saw them."""
    expect_moving(sb, camera, moving, since, count=1)
    began = time.monotonic()
    sb.expect(sb.wait_until(lambda: STOP in speeds(camera, since), timeout=15), "the motion never stopped")
    return time.monotonic() - began


def test_motions_nobody_is_seen_leaving_end_unless_repeated(sb):
    daemon, camera = start(sb)
    # One speed datagram from a sender that never registered.
    mark = len(si.lines(camera))
    sender = sb.start([sys.executable, SENDER, "--from", "127.0.0.2", "127.0.0.1:4242", "gimbal:1,500,0"])
    sb.expect(si.wait_exit(sb, sender, 20) == 0, "sender failed")
    took = seconds_to_stop(sb, camera, mark, PAN_500)
    moving = speeds(camera, mark).count(PAN_500)
    print("  unregistered sender: stopped %.2f s after its speed, %d speed frames" % (took, moving))
    expect_stopped(sb, camera, PAN_500, mark)

    # One "moverel" through the mailbox.
    mark = len(si.lines(camera))
    post_to_mailbox(sb, MOVEREL)
    took = seconds_to_stop(sb, camera, mark, PAN_500)
    print("  mailbox command: stopped %.2f s after it" % took)
    expect_stopped(sb, camera, PAN_500, mark)

    # A held control on the web page repeats about every half second: the
    # motion goes on without a stop, and ends once the repeats do.
    mark = len(si.lines(camera))
    for _ in range(8):
        post_to_mailbox(sb, MOVEREL)
        time.sleep(0.5)  # the page's own pace, not a wait for the box
    sb.expect(STOP not in speeds(camera, mark), "stopped while repeated: %r" % speeds(camera, mark)[-3:])
    expect_moving(sb, camera, PAN_500, mark, count=100, why="the repeated command did not keep moving")
    expect_stopped(sb, camera, PAN_500, mark)
    sb.expect(daemon.running(), "daemon ended")


if __name__ == "__main__":
    sandbox.main([
        test_rc_status_leaving_six_mid_pan_stops_the_gimbal,
        test_motions_a_viewer_starts_end_with_it,
        test_motions_nobody_is_seen_leaving_end_unless_repeated,
    ])
