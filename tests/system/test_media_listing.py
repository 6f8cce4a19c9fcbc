"""Media listing end to end: an anonymous FTP server (pyftpdlib) on port 21 of
the camera's address, at the far end of the sandbox's camera link; a
recording started with the RC stand-in makes the real daemon list DCIM and
publish the newest media file in "/hud_mem"."""

import os
import shutil
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

CONFIG = """control_enabled=1
device_mode=0
rc_input_enabled=1
rc_input_map=pan,tilt,record
"""
FTP_ROOT = sandbox.SANDBOX_DIR + "/ftp"
LAST_MEDIA_FILE = 2682


def python_with_ftp():
    return "/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK) else sys.executable


def serve_ftp(sb, folders):
    shutil.rmtree(FTP_ROOT, ignore_errors=True)
    for folder, files in folders.items():
        os.makedirs(os.path.join(FTP_ROOT, "DCIM", folder), exist_ok=True)
        for name in files:
            with open(os.path.join(FTP_ROOT, "DCIM", folder, name), "w") as f:
                f.write("x")
    os.makedirs(os.path.join(FTP_ROOT, "DCIM"), exist_ok=True)
    link = sb.camera_link()
    server = link.start([python_with_ftp(), "-m", "pyftpdlib", "-i", link.address, "-p", "21", "-d", FTP_ROOT],
                        name="ftp")

    def accepting():
        try:
            socket.create_connection((link.address, 21), timeout=1).close()
            return True
        except OSError:
            return False

    sb.expect(sb.wait_until(accepting, timeout=20), "FTP server did not start: %s" % server.stderr_text())
    return server


def start(sb):
    daemon = si.start_daemon(sb, CONFIG, ready="Init FTP\n")
    camera = si.start_camera(sb, daemon)
    si.start_status_viewer(sb)
    return daemon, camera


def record(sb):
    rc = sb.start_tool("vb-rc", "--script", "t=0 record=-1; t=1 record=1")
    sb.expect(si.wait_exit(sb, rc, 30) == 0, "vb-rc failed: %r" % rc.stderr_text())


def published(sb):
    return sb.read_hud(LAST_MEDIA_FILE, 40)


def test_recording_publishes_the_newest_media_file(sb):
    serve_ftp(sb, {"100MEDIA": ["DJI_0001.MOV"], "101MEDIA": ["DJI_0002.JPG", "DJI_0003.MOV"], "MISC": ["X"]})
    daemon, _ = start(sb)
    record(sb)
    sb.expect(sb.wait_for(daemon, "101MEDIA/DJI_0003.MOV\n", timeout=20),
              "no listing result: %r" % daemon.stderr_text()[-300:])
    text = published(sb)
    sb.expect(text == b"101MEDIA/DJI_0003.MOV".ljust(40, b"\0"), "HudState holds %r" % text)


if __name__ == "__main__":
    sandbox.main([
        test_recording_publishes_the_newest_media_file,
    ])
