"""What start-up guards against: a second copy beside a running one (it leaves
without touching the running copy's records), a viewer port already taken, a
working copy of the settings that is missing or torn (the same pick among the
boot partition's files as the prepare step's instead, so a later save keeps
them), and another user's lock file and shared records (replaced: the daemon's
own are root's, mode 0600, whatever the umask)."""

import json
import os
import socket
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

BOOT_FILE = "/boot/vantagebridge-cable.conf"
RC_VALUES = (890, 64)  # written only by the RC reader process


def port_free(port):
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        probe.bind(("0.0.0.0", port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


def wait_viewer_port_free(sb):
    """A shell command the last daemon started may still hold its sockets for a moment."""
    sb.expect(sb.wait_until(lambda: port_free(4242), 15), "port 4242 still held by a leftover process")


def test_second_copy_leaves_the_running_one_alone(sb):
    first = si.start_daemon(sb, ready="Init FTP")
    sentinel = bytes(range(0x40, 0x40 + RC_VALUES[1]))
    sb.write_hud(RC_VALUES[0], sentinel)
    before_title = sb.read_hud(0, 27)
    config_mem = si.read_bytes("/dev/shm/config_mem")

    second = sb.start_daemon()
    code = si.wait_exit(sb, second, 15)
    sb.expect(code == 100, "second copy: exit code %r" % code)
    sb.expect("another copy is running" in second.stderr_text(), "stderr %r" % second.stderr_text())
    sb.expect(second.stdout_text() == "", "second copy printed %r" % second.stdout_text())
    sb.expect(sb.read_hud(*RC_VALUES) == sentinel, "RC values changed: %r" % sb.read_hud(*RC_VALUES))
    sb.expect(sb.read_hud(0, 27) == before_title, "marker or title changed: %r" % sb.read_hud(0, 27))
    sb.expect(si.read_bytes("/dev/shm/config_mem") == config_mem, "config_mem changed")
    sb.expect(first.running(), "the running copy ended with %r" % first.returncode())

    # Once the first copy is gone the lock goes with it.
    sb.stop(first)
    wait_viewer_port_free(sb)
    third = si.start_daemon(sb, ready="Init FTP")


def test_viewer_port_taken_ends_with_100(sb):
    wait_viewer_port_free(sb)
    taken = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        taken.bind(("0.0.0.0", 4242))
        daemon = sb.start_daemon()
        code = si.wait_exit(sb, daemon, 20)
        sb.expect(code == 100, "exit code %r" % code)
        sb.expect("discovery bind failed" in daemon.stderr_text(), "stderr %r" % daemon.stderr_text()[-300:])
    finally:
        taken.close()


def test_start_reads_the_good_settings_and_saves_keep_them(sb):
    good = sandbox.set_config_key("control_enabled=1\r\n", "osd_border_width", "12")
    good = sandbox.set_config_key(good, "ap_ssid", '"Keep Me"')
    good = sandbox.set_config_key(good, "wifi_psk", '"secret"').encode()
    nul = b"\0" * 4096  # what a cut mid-write often leaves on an SD card
    cases = [
        # working copy (None: missing), files on the boot partition, the file the settings come from
        (None, {"": good}, BOOT_FILE),
        # A cut left the boot file full of NUL bytes beside a complete .new,
        # and an older prepare step copied the NUL bytes into use.
        (nul, {"": nul, ".new": good}, BOOT_FILE + ".new"),
    ]
    for working, boot_files, source in cases:
        sb.reset(config=None)
        if working is not None:
            with open(os.path.join(sandbox.WORK_DIR, "vantagebridge.conf"), "wb") as f:
                f.write(working)
        for suffix, text in boot_files.items():
            with open(BOOT_FILE + suffix, "wb") as f:
                f.write(text)
        wait_viewer_port_free(sb)
        daemon = si.start_daemon(sb, ready="Init FTP")
        sb.expect("settings read from " + source in daemon.stderr_text(),
                  "%s: no log line for it: %r" % (source, daemon.stderr_text()))

        viewer = si.start_viewer(sb)
        si.send_json(sb, '{"cmd":"configrequest"}')
        line = si.wait_line(viewer, "json {", timeout=15)
        sb.expect(line is not None, "no configuration report")
        report = json.loads(line[len("json "):])
        sb.expect(report.get("osdbrdw") == 12, "%s: report %r" % (source, line[:300]))

        si.send_json(sb, '{"cmd":"updateparam","name":"osd_top_offset","value":"5"}')
        sb.expect(sb.wait_until(lambda: b"\r\nosd_top_offset=5\r\n" in si.read_bytes(BOOT_FILE), 15),
                  "not saved: %r" % si.read_bytes(BOOT_FILE)[-200:])
        sb.expect(sb.wait_until(lambda: not os.path.exists(BOOT_FILE + ".new"), 15), "%s: .new left" % source)
        for saved in (si.read_bytes(BOOT_FILE), si.read_bytes(BOOT_FILE + ".last")):
            for line in (b'ap_ssid="Keep Me"', b'wifi_psk="secret"', b"osd_border_width=12", b"control_enabled=1"):
                sb.expect(b"\r\n" + line + b"\r\n" in saved, "%s: setting lost in the save: %r" % (source, line))
        sb.stop_all()


LOCK = "/run/vantagebridge.lock"
NOBODY = 65534

# Another local user: holds the lock on a lock file it could read, and made the
# shared records before the daemon started. On "attack" it writes a reboot
# into its mapping of /hud_mem and truncates the objects it holds.
SQUATTER = """
import fcntl, mmap, os, sys, time
os.setgid(%(uid)d); os.setuid(%(uid)d); os.umask(0)
lock = open("%(lock)s", "rb"); fcntl.flock(lock, fcntl.LOCK_EX)
objects = {}
for name, size in (("hud_mem", 2728), ("config_mem", 1844)):
    fd = os.open("/dev/shm/" + name, os.O_RDWR | os.O_CREAT, 0o666); os.ftruncate(fd, size); objects[name] = fd
hud = mmap.mmap(objects["hud_mem"], 2728)
print("ready", flush=True)
while not os.path.exists("/run/vb/attack"):
    time.sleep(0.05)
hud[1571:1586] = b'"cmd":"reboot"}'; hud[1570:1571] = b"{"
for fd in objects.values():
    os.ftruncate(fd, 0)
print("done", flush=True)
time.sleep(600)
""" % {"uid": NOBODY, "lock": LOCK}


def owner_and_mode(path):
    st = os.stat(path)
    return st.st_uid, stat.S_IMODE(st.st_mode)


def test_another_users_lock_and_records_are_replaced(sb):
    # No tool makes the record: vb-rc before the daemon fails and leaves none.
    rc = sb.start_tool("vb-rc", "pan=0.5")
    sb.expect(si.wait_exit(sb, rc, 10) not in (0, None) and sb.shm_size("hud_mem") is None,
              "vb-rc without the daemon: exit %r, /hud_mem %r" % (rc.returncode(), sb.shm_size("hud_mem")))
    wait_viewer_port_free(sb)
    if os.path.exists("/run/vb/attack"):
        os.unlink("/run/vb/attack")
    with open(LOCK, "w") as f:
        os.fchmod(f.fileno(), 0o644)  # as older versions left it
    squatter = sb.start([sys.executable, "-c", SQUATTER], name="squatter")
    sb.expect(sb.wait_for(squatter, "ready", stream="stdout", timeout=15), "squatter: %r" % squatter.stderr_text())

    daemon = sb.start(["sh", "-c", 'umask 000; exec "$0"', sb.binary("vantagebridge")], name="vantagebridge")
    sb.expect(sb.wait_for(daemon, "Init FTP", timeout=30), "daemon did not start")
    err = daemon.stderr_text()
    for line in ("instance lock %s held by uid %d, no copy of the daemon: replaced" % (LOCK, NOBODY),
                 "shared record /hud_mem was not the daemon's own (owner %d, mode 0666): made afresh" % NOBODY,
                 "shared record /config_mem was not the daemon's own (owner %d, mode 0666): made afresh" % NOBODY):
        sb.expect(line in err, "no %r in %r" % (line, err))
    for path in (LOCK, "/dev/shm/hud_mem", "/dev/shm/config_mem"):
        print("  %s: owner %d, mode %o" % ((path,) + owner_and_mode(path)))
        sb.expect(owner_and_mode(path) == (0, 0o600), "%s: owner and mode %r" % (path, owner_and_mode(path)))

    # What the other user still holds is no longer the daemon's.
    open("/run/vb/attack", "w").close()
    sb.expect(sb.wait_for(squatter, "done", stream="stdout", timeout=10), "squatter: %r" % squatter.stderr_text())
    sb.write_hud(1571, b'"cmd":"shutdown"}\0')
    sb.write_hud(1570, b"{")
    sb.expect(sb.wait_until(lambda: "shutdown " in sb.stub_log(), 10), "the daemon's own mailbox was not served")
    sb.expect("reboot " not in sb.stub_log(), "the other user's command ran: %r" % sb.stub_log())
    sb.expect(daemon.running(), "daemon ended with %r" % daemon.returncode())

    # A lock file of another user's is replaced as well.
    sb.stop(daemon)
    sb.stop(squatter)
    os.chown(LOCK, NOBODY, NOBODY)
    wait_viewer_port_free(sb)
    daemon = si.start_daemon(sb, ready="Init FTP")
    sb.expect("instance lock %s belonged to uid %d: replaced" % (LOCK, NOBODY) in daemon.stderr_text(),
              "no replacement line: %r" % daemon.stderr_text())
    sb.expect(owner_and_mode(LOCK) == (0, 0o600), "lock file %r" % (owner_and_mode(LOCK),))


if __name__ == "__main__":
    sandbox.main([
        test_second_copy_leaves_the_running_one_alone,
        test_viewer_port_taken_ends_with_100,
        test_start_reads_the_good_settings_and_saves_keep_them,
        test_another_users_lock_and_records_are_replaced,
    ])
