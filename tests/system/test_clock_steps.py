"""A wall clock that steps (a box without a real-time clock learns the network
time late) moves no interval of the daemon: its wall clock is shifted through
libfaketime inside the sandbox, the machine's clock is never touched. The date
the box sends the camera still follows the wall clock."""

import datetime
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

HOUR = 3600


def date_frames(camera, since=0):
    """The camera dates the box sent (set 02, id 54), as naive local times."""
    out = []
    for f in si.frames(camera, since):
        if f.set != 0x02 or f.id != 0x54:
            continue
        b = bytes.fromhex(f.payload)
        if len(b) < 7:
            continue
        try:
            out.append(datetime.datetime(b[0] | b[1] << 8, b[2], b[3], b[4], b[5], b[6]))
        except ValueError:
            continue
    return out


def wait_camera_date(sb, camera, offset, since):
    """Waits until the box dates the camera offset seconds from the true time."""
    def shifted():
        return any(abs((d - datetime.datetime.now()).total_seconds() - offset) < 60
                   for d in date_frames(camera, since))
    return sb.wait_until(shifted, timeout=15)


def connect(sock):
    """One connect request of a full viewer: the 12-byte header, then type 0."""
    sock.sendto(b"B" + bytes(11) + bytes([0, 0]), ("127.0.0.1", 4242))


def acknowledged(sock, timeout=10.0):
    """True once the box's one-byte acknowledgement arrives (video and status
    messages may come first)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            if sock.recv(65536) == b"B":
                return True
        except socket.timeout:
            break
    return False


def test_wall_clock_steps_move_no_interval(sb):
    clock = sb.wall_clock()
    daemon = sb.start_daemon(wall_clock=clock)
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start")
    camera = sb.start_tool("vb-camera", "--still", "--no-queries", "--quiet", "--video-kbps", "300")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "link did not come up")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=15), "video did not come up")
    sb.expect(wait_camera_date(sb, camera, 0, 0), "the camera was not dated with the wall clock")

    # A viewer registers (its acknowledgement says the box took the time) and
    # the wall clock steps one hour forward right after. The watchdog pass that
    # dates the camera with the new time also runs the expiry; one more pass
    # after it, the viewer is still registered.
    viewer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    viewer.bind(("127.0.0.1", 0))
    port = viewer.getsockname()[1]
    try:
        mark = len(si.lines(camera))
        connect(viewer)
        sb.expect(acknowledged(viewer), "registration not acknowledged")
        clock.step(HOUR)
        sb.expect(wait_camera_date(sb, camera, HOUR, mark), "the daemon's wall clock did not step forward")
        after = len(si.lines(camera))
        sb.expect(sb.wait_until(lambda: len(date_frames(camera, after)) >= 2, timeout=10), "the watchdog stopped")
        err = daemon.stderr_text()
        sb.expect("Client 127.0.0.1:%d lost" % port not in err, "the viewer was dropped by the step forward")
        for line in ("data disconnected\n", "video disconnected\n"):
            sb.expect(line not in err, "%r after the wall clock stepped forward" % line)
        connect(viewer)
    finally:
        viewer.close()

    # The camera goes silent and the wall clock steps one hour back right
    # after: the link and the video are lost after their usual seconds, not
    # an hour later.
    sb.stop(camera)
    clock.step(-HOUR)
    sb.expect(sb.wait_for(daemon, "data disconnected\n", timeout=10), "silent camera still counted as linked")
    sb.expect(sb.wait_for(daemon, "video disconnected\n", timeout=10), "silent video still counted as flowing")


if __name__ == "__main__":
    sandbox.main([test_wall_clock_steps_move_no_interval])
