"""Start-up of the real daemon in the sandbox: banner, start lines, the status
record in "/hud_mem" and the "/config_mem" object."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

BANNER = "Vantagebridge Cable Basic v.0.14.10\n"  # no colour codes: standard output is a file
INIT_LINES = ["GPIO init", "Init data source", "Init video bridge", "Init device discovery", "Init FTP"]
TITLE = b"Vantagebridge Cable Basic\0"

DISPLAY_FLAGS_CONFIG = """control_enabled=1
osd_enabled=1
hud_enabled=1
internal_camera_enabled=1
internal_camera_fullscreen=1
focus_assistant_enabled=1
"""


def hud_text(sb, offset, size):
    return sb.read_hud(offset, size).split(b"\0")[0].decode()


def test_banner_start_lines_threads_and_config_mem(sb):
    daemon = si.start_daemon(sb, ready="Init FTP")
    # An operator tells the threads apart in top -H by these names.
    wanted = {"watchdog", "usb-rx", "video-rx", "discovery-rx", "mailbox", "rc-loop", "ftp-list"}
    names = set()

    def all_named():
        # The watchdog starts after the last start line; threads name themselves once running.
        names.clear()
        task_dir = "/proc/%d/task" % daemon.pid
        for tid in os.listdir(task_dir):
            try:
                with open(os.path.join(task_dir, tid, "comm")) as f:
                    names.add(f.read().strip())
            except OSError:
                pass  # a worker that just ended
        return wanted <= names

    sb.expect(sb.wait_until(all_named, 10), "threads missing: %r" % sorted(wanted - names))
    sb.expect(sb.wait_for(daemon, BANNER, stream="stdout", timeout=5) and "\033" not in daemon.stdout_text(),
              "banner missing from standard output: %r" % daemon.stdout_text())
    err = daemon.stderr_text()
    positions = []
    for line in INIT_LINES:
        sb.expect(line + "\n" in err, "missing start line %r" % line)
        positions.append(err.index(line + "\n"))
    sb.expect(positions == sorted(positions), "start lines out of order: %r" % err)
    # The shell opens the governor file before sudo runs; without a cpu0 folder
    # on the machine there is nothing to look at.
    if os.path.isdir(sandbox.CPUFREQ_DIR):
        sb.expect(sb.wait_until(lambda: "sudo echo performance" in sb.stub_log(), timeout=10),
                  "governor command not run: %r" % sb.stub_log())
        # The stub logs the line before its echo writes the file.
        def governor():
            with open(sandbox.CPUFREQ_DIR + "/scaling_governor") as f:
                return f.read()
        sb.expect(sb.wait_until(lambda: governor() == "performance\n", timeout=10), "governor not set")
    sb.expect(sb.shm_size("config_mem") == 1844, "config_mem size %r" % sb.shm_size("config_mem"))
    sb.stop(daemon)
    # Starting again over a wrongly sized object resizes it.
    with open("/dev/shm/config_mem", "wb") as f:
        f.write(b"\0" * 10)
    daemon = si.start_daemon(sb, ready="Init FTP")
    sb.expect(sb.shm_size("config_mem") == 1844, "config_mem size %r" % sb.shm_size("config_mem"))


def test_status_record_after_start(sb):
    # A stale record from an earlier run is cleared before anything is written.
    with open("/dev/shm/hud_mem", "wb") as f:
        f.write(b"\xff" * 2728)
    sb.write_config(DISPLAY_FLAGS_CONFIG)
    daemon = si.start_daemon(sb, ready="Init FTP")
    sb.expect(sb.shm_size("hud_mem") == 2728, "hud_mem size %r" % sb.shm_size("hud_mem"))
    sb.expect(sb.read_hud(0, 1) == b"\x02", "marker %r" % sb.read_hud(0, 1))
    sb.expect(sb.read_hud(1, len(TITLE)) == TITLE, "title %r" % sb.read_hud(1, 30))
    sb.expect(hud_text(sb, 605, 20) == "v.0.14.10", "version %r" % sb.read_hud(605, 20))
    osd, hud_visible, internal, fullscreen, assistant = sb.read_hud(625, 5)
    sb.expect((osd, internal, fullscreen, assistant) == (1, 1, 1, 1),
              "display flags %r" % sb.read_hud(625, 5))
    # The HUD itself is shown only while the camera link is up; no camera here.
    sb.expect(hud_visible == 0, "hud_visible %d without a camera" % hud_visible)
    sb.expect(sb.read_hud(131, 56) == b"\0" * 56, "stale bytes survived the clear")
    sb.expect(sb.read_hud(2082, 297) == b"\0" * 297, "stale bytes survived the clear")


def test_title_and_version_blank_without_control(sb):
    sb.write_config("control_enabled=0\nosd_enabled=1\n")
    daemon = si.start_daemon(sb, ready="Init FTP")
    sb.expect(sb.read_hud(1, 1) == b"\0", "title shown: %r" % sb.read_hud(1, 30))
    sb.expect(sb.read_hud(605, 1) == b"\0", "version shown: %r" % sb.read_hud(605, 20))
    sb.expect(sb.read_hud(0, 1) == b"\x02", "marker %r" % sb.read_hud(0, 1))
    sb.expect(sb.read_hud(625, 1) == b"\x01", "osd flag %r" % sb.read_hud(625, 1))
    sb.expect(BANNER in daemon.stdout_text(), "banner missing: %r" % daemon.stdout_text())


def test_missing_configuration_file_still_runs(sb):
    sb.remove_config()
    daemon = si.start_daemon(sb, ready="Init FTP")
    time.sleep(1.5)  # a watchdog pass or two; the daemon must still be there
    sb.expect(daemon.running(), "daemon ended with %r" % daemon.returncode())
    sb.expect(sb.shm_size("config_mem") is None, "config_mem created without a configuration file")
    sb.expect(sb.read_hud(625, 5) == b"\0" * 5, "display flags %r" % sb.read_hud(625, 5))
    sb.expect(sb.read_hud(1, 1) == b"\0", "title shown with control off: %r" % sb.read_hud(1, 30))
    sb.expect(not any(line.startswith("pidof") for line in sb.stub_log()),
              "access point checked without an interface: %r" % sb.stub_log())


def test_status_message_reaches_a_viewer(sb):
    sb.write_config("control_enabled=1\nhdmi_enabled=1\nfocus_assistant_enabled=1\nap_iface=wlan0\n")
    sb.set_program_running("hostapd", True)
    daemon = si.start_daemon(sb, ready="Init FTP")
    sb.write_hud(2625, [3, 1])  # only the lowest bit of the first byte counts
    sb.write_hud(887, [5])
    viewer = sb.start_tool("vb-viewer", "--data-only")
    expected = "status flags=0xC7 clients=1 rc=5 fa=1 ap=1 hdmi=1 camera=0 b6=1 b7=1"
    sb.expect(sb.wait_for(viewer, expected, stream="stdout", timeout=15),
              "no %r in %r" % (expected, viewer.stdout_text()[-600:]))
    # The watchdog checks the access point again and again: it notices the process is gone.
    sb.set_program_running("hostapd", False)
    sb.expect(sb.wait_for(viewer, "status flags=0xC5 clients=1", stream="stdout", timeout=15),
              "access point bit still set: %r" % viewer.stdout_text()[-600:])


TESTS = [
    test_banner_start_lines_threads_and_config_mem,
    test_status_record_after_start,
    test_title_and_version_blank_without_control,
    test_missing_configuration_file_still_runs,
    test_status_message_reaches_a_viewer,
]

if __name__ == "__main__":
    sandbox.main(TESTS)
