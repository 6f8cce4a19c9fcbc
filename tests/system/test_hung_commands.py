"""A shell command that never returns costs at most its deadline: a save whose
unmount hangs is killed after 30 s, the boot partition is forced read-only, the
save after it goes through, and viewers are served all along; the RC record
switch is served at once while hung scans hold every command worker."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

BOOT_FILE = "/boot/vantagebridge-cable.conf"


def test_hung_unmount_is_killed_and_saves_go_on(sb):
    daemon = si.start_daemon(sb, ready="Init FTP")
    viewer = si.start_viewer(sb)

    sb.set_program_hangs("umount", True)
    si.send_json(sb, {"cmd": "updateparam", "name": "osd_top_offset", "value": "5"})
    sb.expect(sb.wait_until(lambda: "umount /boot" in sb.stub_log(), 15), "no unmount: %r" % sb.stub_log())
    hung_at = time.monotonic()
    sb.set_program_hangs("umount", False)  # the one already running keeps hanging

    # Commands that need no save are served while the save hangs; the next save waits for it.
    si.send_json(sb, {"cmd": "updateparam", "name": "osd_bottom_offset", "value": "7"})
    si.send_json(sb, {"cmd": "configrequest"})
    sb.expect(si.wait_line(viewer, "json {", timeout=10) is not None, "no report during the hung save")

    sb.expect(sb.wait_until(lambda: "mount -o ro,remount /boot" in sb.stub_log(), 60),
              "the partition was never forced read-only: %r" % sb.stub_log())
    held = time.monotonic() - hung_at
    print("  a hung unmount held the save lock for %.1f s" % held)
    sb.expect(held >= 25, "killed after only %.1f s" % held)
    sb.expect("shell command timed out, killed: umount /boot" in daemon.stderr_text(), "kill not logged")
    log = sb.stub_log()
    first = log.index("umount /boot")
    sb.expect(log[first + 1:first + 3] == ["mount /boot", "mount -o ro,remount /boot"],
              "after the hung unmount: %r" % log[first:])
    sb.expect(sb.wait_until(lambda: b"\r\nosd_bottom_offset=7\r\n" in si.read_bytes(BOOT_FILE), 15),
              "the waiting save never ran")
    sb.expect(b"\r\nosd_top_offset=5\r\n" in si.read_bytes(BOOT_FILE), "the first save was lost")
    sb.expect(daemon.running(), "daemon ended with %r" % daemon.returncode())


RC_RECORD_CONFIG = """control_enabled=1
device_mode=0
rc_input_enabled=1
rc_input_map=pan,tilt,record
"""


def test_rc_record_is_served_while_scans_hang_on_every_worker(sb):
    daemon = si.start_daemon(sb, RC_RECORD_CONFIG, ready="Init FTP")
    camera = si.start_camera(sb, daemon)
    si.start_status_viewer(sb)
    sb.set_program_hangs("iwlist", True)
    scan = '{"cmd":"wlan","param":"scan","value":"2"}'
    sender = sb.start_tool("vb-viewer", "--no-register", "--seconds", "1", "--send-gap", "0", "--quiet-video",
                           *sum((["--send", scan] for _ in range(20)), []))
    sb.expect(si.wait_exit(sb, sender, 10) == 0, "scans not sent")
    sb.expect(sb.wait_until(lambda: sb.stub_log().count("iwlist wlan0 scan") >= 16, 20),
              "not every worker took a scan: %r" % sb.stub_log())
    pressed = time.monotonic()
    rc = sb.start_tool("vb-rc", "--script", "t=0 record=-1; t=0.2 record=1")
    sb.expect(si.wait_exit(sb, rc, 20) == 0, "vb-rc failed: %r" % rc.stderr_text())
    sb.expect(sb.wait_for(daemon, "record start\n", timeout=25), "the record switch was not served")
    print("  record started %.2f s after the press, with 16 scans hanging" % (time.monotonic() - pressed))
    sb.expect("shell command timed out" not in daemon.stderr_text(), "served only once a hung scan was killed")
    sb.expect(si.wait_line(camera, "camera record on", timeout=10) is not None, "the camera did not record")


if __name__ == "__main__":
    sandbox.main([test_hung_unmount_is_killed_and_saves_go_on,
                  test_rc_record_is_served_while_scans_hang_on_every_worker])
