"""Settings changed from a viewer: the real daemon rewrites its configuration
file on the sandbox's /boot (CR LF, commented layout), refreshes the LF copy
under /run, restarts the affected sibling programs, ends itself with exit
code 2 after a camera mode change and 3 after "restart", and starts again
with every saved setting as it was, the longest texts included."""

import json
import os
import re
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

BOOT_FILE = "/boot/vantagebridge-cable.conf"
RUN_FILE = "/run/vantagebridge.conf"


def wait_file_with(sb, line, timeout=15):
    """Waits until the boot file holds the CR LF line; returns the file's bytes."""
    want = line.encode() + b"\r\n"
    sb.expect(sb.wait_until(lambda: want in si.read_bytes(BOOT_FILE) and si.read_bytes(RUN_FILE), timeout),
              "%s never held %r: %r" % (BOOT_FILE, line, si.read_bytes(BOOT_FILE)[-300:]))
    # The file is rewritten whole; give the writer's last steps a moment to finish.
    sb.wait_until(lambda: si.read_bytes(RUN_FILE).replace(b"\n", b"\r\n") == si.read_bytes(BOOT_FILE), 5)
    return si.read_bytes(BOOT_FILE)


def check_layout(sb, data):
    sb.expect(data.startswith(b"# Vantagebridge-cable config file\r\n\r\n# Skip app run or not\r\n"),
              "file header %r" % data[:80])
    sb.expect(b"\n" not in data.replace(b"\r\n", b""), "a line does not end in CR LF")
    end = data[data.rindex(b"\r\nshield_close="):]
    sb.expect(re.fullmatch(rb"\r\nshield_close=\d+\r\n\r\n# check: \d+ bytes, crc32 [0-9a-f]{8}\r\n", end),
              "file end %r" % end)
    # The copy under /run is the same text with LF line ends, root's alone.
    sb.expect(si.read_bytes(RUN_FILE) == data.replace(b"\r\n", b"\n"),
              "LF copy differs: %r" % si.read_bytes(RUN_FILE)[:80])
    mode = stat.S_IMODE(os.stat(RUN_FILE).st_mode)
    sb.expect(mode == 0o600, "%s has mode %o" % (RUN_FILE, mode))


def stub_lines_in_order(sb, wanted):
    log = sb.stub_log()
    i = 0
    for line in log:
        if i < len(wanted) and line == wanted[i]:
            i += 1
    return i == len(wanted)


SAVE = ["mount -o rw,remount /boot", "umount /boot", "mount /boot"]


def test_flags_and_texts_saved(sb):
    si.start_daemon(sb)
    si.send_json(sb, {"cmd": "updateparam", "name": "rcin_enabled", "value": "true"})
    wait_file_with(sb, "rc_input_enabled=1")
    sb.expect(sb.wait_until(lambda: "killall -q rcin" in sb.stub_log(), 10), "rcin not restarted")
    si.send_json(sb, {"cmd": "updateparam", "name": "rcin_enabled", "value": "yes"})
    wait_file_with(sb, "rc_input_enabled=0")
    si.send_json(sb, {"cmd": "updateparam", "name": "rcin_speed", "value": "50", "value2": "-20", "value3": "x"})
    data = wait_file_with(sb, "rc_input_speed_pan=50")
    sb.expect(b"\r\nrc_input_speed_tilt=-20\r\n" in data and b"\r\nrc_input_speed_dutch=0\r\n" in data,
              "speeds not saved as given")
    sb.expect(b"# RC pan speed (%)\r\n# 0 - 100\r\nrc_input_speed_pan=50\r\n" in data, "speed comment not literal")
    si.send_json(sb, {"cmd": "updateparam", "name": "wifi", "value4": "2", "value5": "Home", "value6": "secret",
                      "value7": "1", "value8": "My Net", "value9": "pw", "value10": "5", "value11": "36",
                      "value12": "US"})
    data = wait_file_with(sb, 'ap_ssid="My Net"')
    for line in [b'wifi_iface=wlan0', b'wifi_ssid="Home"', b'wifi_psk="secret"', b'ap_iface=wifi0',
                 b'ap_psk="pw"', b'ap_mode=5', b'ap_channel=36', b'ap_country=US']:
        sb.expect(b"\r\n" + line + b"\r\n" in data, "missing line %r" % line)
    sb.expect(sb.wait_until(lambda: os.path.exists("/run/wlan.update"), 10), "wlan update marker not touched")
    check_layout(sb, data)


def test_camera_mode_changes_end_the_daemon_with_code_2(sb):
    for name, value, line in [("device_mode", "1", "device_mode=1"), ("coop_mode", "1", "cooperative_mode=1"),
                              ("ctrl_enabled", "0", "control_enabled=0")]:
        for leftover in (BOOT_FILE, RUN_FILE):
            if os.path.exists(leftover):
                os.unlink(leftover)
        daemon = si.start_daemon(sb, "control_enabled=1\n")
        si.send_json(sb, {"cmd": "updateparam", "name": name, "value": value})
        code = si.wait_exit(sb, daemon, 15)
        sb.expect(code == 2, "%s: exit code %r" % (name, code))
        sb.expect(("\r\n%s\r\n" % line).encode() in si.read_bytes(BOOT_FILE), "%s not saved before the exit" % name)
        sb.stop(daemon)


def test_partition_not_mounted_again_fails_the_save_safely(sb):
    daemon = si.start_daemon(sb)
    si.send_json(sb, {"cmd": "updateparam", "name": "osd_top_offset", "value": "5"})
    wait_file_with(sb, "osd_top_offset=5")
    run_copy = si.read_bytes(RUN_FILE)

    # "mount /boot" fails after a good unmount: the mode change is not taken,
    # and the /run copy keeps the last save's settings.
    sb.set_program_fails("mount", True)
    si.send_json(sb, {"cmd": "updateparam", "name": "device_mode", "value": "1"})
    sb.expect(sb.wait_for(daemon, "mode change not saved, staying in the current mode", timeout=30),
              "failed save reported as a success: %r" % daemon.stderr_text()[-400:])
    log = sb.stub_log()
    after_unmount = log[len(log) - log[::-1].index("umount /boot"):]
    sb.expect(after_unmount == ["mount /boot"] * 3, "after the unmount: %r" % after_unmount)
    sb.expect("boot partition could not be mounted again" in daemon.stderr_text(), "not logged")
    sb.expect(daemon.running(), "daemon ended with %r" % daemon.returncode())
    sb.expect(si.read_bytes(RUN_FILE) == run_copy, "/run copy changed: %r" % si.read_bytes(RUN_FILE)[:80])

    # The next start, with the partition still away, begins from the /run copy.
    sb.stop(daemon)
    for name in os.listdir("/boot"):
        os.unlink(os.path.join("/boot", name))
    work = os.path.join(sandbox.SANDBOX_DIR, "prepared")
    prepare = sb.start(["env", "VB_DAEMON=" + sb.binary("vantagebridge"),
                        os.path.join(sandbox.REPO, "service", "vantagebridge-prepare"), work], name="prepare")
    sb.expect(sb.wait_until(lambda: not prepare.running(), 20), "prepare step still running")
    sb.expect(si.read_bytes(os.path.join(work, "vantagebridge.conf")) == run_copy,
              "not started from the /run copy: %r" % prepare.stderr_text())


def config_report(sb):
    viewer = si.start_viewer(sb)
    si.send_json(sb, {"cmd": "configrequest"})
    line = si.wait_line(viewer, "json {", timeout=10)
    sb.expect(line is not None, "no configuration report")
    sb.stop(viewer)
    return json.loads(line[len("json "):])


def test_saved_settings_survive_a_restart(sb):
    # As installed, the working directory's file is a link to the copy every save refreshes.
    work_config = os.path.join(sandbox.WORK_DIR, "vantagebridge.conf")
    with open(RUN_FILE, "w") as f:
        f.write("control_enabled=1\n")
    os.unlink(work_config)
    os.symlink(RUN_FILE, work_config)
    try:
        save_and_restart(sb)
    finally:
        os.unlink(work_config)


# The configuration report's names of the settings the golden table's system rows set.
REPORTED = {"wifi_ssid": "lan_ssid", "wifi_psk": "lan_psk", "rc_input_map": "rcin_map"}


def save_and_restart(sb):
    """Saves as a viewer asks, in the commented CR LF layout, then starts
    again with every setting as saved; "restart" ends it without a save."""
    daemon = si.start_daemon(sb)
    rows = [row for row in si.settings_texts() if row.get("system")]
    longest = {row["key"]: row["text"] for row in rows if row["stored"] is not None}
    si.send_json(sb, {"cmd": "updateparam", "name": "osd_borders", "value": "300", "value2": "20"})
    data = wait_file_with(sb, "osd_border_width=44")
    sb.expect(b"\r\nosd_border_height=20\r\n" in data, "border height not saved")
    sb.expect(b"# OSD borders width (pixels)\r\n# 0 - disabled\r\nosd_border_width=44\r\n\r\n" in data,
              "border width entry not laid out with its comments")
    check_layout(sb, data)
    sb.expect(sb.wait_until(lambda: stub_lines_in_order(sb, SAVE + ["killall -q display hud"]), 10),
              "save and restart commands: %r" % sb.stub_log())
    # A viewer's command is cut at 255 bytes: room for the longest SSID and one longest password.
    si.send_json(sb, {"cmd": "updateparam", "name": "wifi", "value4": "2", "value5": longest["wifi_ssid"],
                      "value6": longest["wifi_psk"], "value7": "1", "value8": "Box", "value10": "2.4"})
    wait_file_with(sb, 'ap_ssid="Box"')
    si.send_json(sb, {"cmd": "updateparam", "name": "rcin_map", "value": longest["rc_input_map"]})
    wait_file_with(sb, "rc_input_map=" + longest["rc_input_map"])
    # A map that would reach past the line the loader reads is refused whole.
    for row in rows:
        if row["stored"] is None and row["key"] == "rc_input_map":
            si.send_json(sb, {"cmd": "updateparam", "name": "rcin_map", "value": row["text"]})
    sb.expect(sb.wait_for(daemon, "updateparam rcin_map refused", timeout=15), "refusal not logged")
    before = config_report(sb)

    sb.stop(daemon)
    daemon = sb.start_daemon()
    sb.expect(sb.wait_for(daemon, "Init device discovery", timeout=30), "daemon did not start again")
    after = config_report(sb)
    sb.expect(before == after, "report changed across the restart:\n%r\n%r" % (before, after))
    wanted = {"osdbrdw": 44, "lan_iface": "2", "ap_iface": "1", "ap_ssid": "Box", "ap_mode": 2, "app": "cable",
              "version": "0.14.10", "ctrl_en": 1}
    wanted.update({REPORTED[key]: text for key, text in longest.items()})
    for key, value in wanted.items():
        sb.expect(after.get(key) == value, "%s after the restart: %r, not %r" % (key, after.get(key), value))

    saved = si.read_bytes(BOOT_FILE)
    si.send_json(sb, {"cmd": "restart"})
    sb.expect(si.wait_exit(sb, daemon, 15) == 3, "restart: exit code %r" % daemon.returncode())
    sb.expect(si.read_bytes(BOOT_FILE) == saved, "restart wrote the configuration file")


if __name__ == "__main__":
    sandbox.main([
        test_flags_and_texts_saved,
        test_camera_mode_changes_end_the_daemon_with_code_2,
        test_partition_not_mounted_again_fails_the_save_safely,
        test_saved_settings_survive_a_restart,
    ])
