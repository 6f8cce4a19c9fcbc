"""The daemon under a service manager, in the sandbox: the working-directory
preparation step against a fake boot partition (the sandbox's /boot), and the
readiness and keep-alive messages the real daemon sends to a notify socket."""

import ctypes
import os
import socket
import stat
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

PREPARE = os.path.join(sandbox.REPO, "service", "vantagebridge-prepare")
AFTER_EXIT = os.path.join(sandbox.REPO, "service", "vantagebridge-after-exit")
DEFAULT_CONF = os.path.join(sandbox.REPO, "vantagebridge.conf")
SERVICE_DIR = "/run/vb/service"
BOX_SCRIPTS = "/run/vb/box-scripts"
BOOT_CONF = "/boot/vantagebridge-cable.conf"
RUN_COPY = "/run/vantagebridge.conf"
NOTIFY_PATH = "/run/vb/notify.sock"


def prepare(sb, boot_text, scripts=("hdmi-mode.sh", "hdmi-change.sh"), beside=None, default=DEFAULT_CONF):
    """Runs the preparation step; boot_text None leaves no file on the boot partition.
    beside maps a suffix (".new", ".last") to the text of a file beside it."""
    for suffix in ("", ".new", ".last"):
        if os.path.exists(BOOT_CONF + suffix):
            os.unlink(BOOT_CONF + suffix)
    for suffix, text in dict(beside or {}, **{"": boot_text}).items():
        if text is not None:
            with open(BOOT_CONF + suffix, "wb") as f:
                f.write(text)
    os.makedirs(BOX_SCRIPTS, exist_ok=True)
    sandbox._clear_folder(BOX_SCRIPTS)
    for name in scripts:
        sandbox._copy_stub(os.path.join(BOX_SCRIPTS, name))
    env = ["env", "VB_DEFAULT_CONF=" + default, "VB_SCRIPTS_DIR=" + BOX_SCRIPTS,
           "VB_DAEMON=" + sb.binary("vantagebridge")]
    proc = sb.start(env + [PREPARE, SERVICE_DIR], name="prepare", cwd="/")
    sb.expect(sb.wait_until(lambda: not proc.running(), timeout=20), "preparation step still running")
    return proc


def test_prepare_picks_the_configuration(sb):
    with open(DEFAULT_CONF, "rb") as f:
        saved = f.read()  # a file as the daemon writes it, check line last
    legacy = saved[:saved.rindex(b"# check")]
    torn = saved[:1000] + b"\0" * 512
    work_copy = os.path.join(SERVICE_DIR, "vantagebridge.conf")
    cases = [
        # boot partition's file, files beside it, expected working copy (None: none), log mentions
        (b"control_enabled=1\r\nosd_enabled=1\r\n", {}, b"control_enabled=1\nosd_enabled=1\n", BOOT_CONF),
        (b"hud_enabled=1\n", {}, b"hud_enabled=1\n", BOOT_CONF),
        (None, {}, None, BOOT_CONF + " is missing"),
        (b"", {}, None, "is empty"),
        (b"\n", {}, None, "holds no settings"),
        # A cut left the boot file full of NUL bytes beside an older writer's complete .new.
        (b"\0" * 4096, {".new": legacy}, legacy.replace(b"\r\n", b"\n"), "settings from " + BOOT_CONF + ".new"),
        (torn, {".last": saved}, saved.replace(b"\r\n", b"\n"), "is damaged"),
        (torn, {".new": torn}, torn.replace(b"\r\n", b"\n"), "settings from " + BOOT_CONF + " (damaged"),
    ]
    with open(RUN_COPY, "w") as f:
        f.write("left by an older version, readable by all\n")
    os.chmod(RUN_COPY, 0o644)
    for boot_text, beside, expected, said in cases:
        what = "%r %r" % ((boot_text or b"")[:20], sorted(beside))
        proc = prepare(sb, boot_text, beside=beside)
        sb.expect(proc.returncode() == 0, "%s: exit %r: %s" % (what, proc.returncode(), proc.stderr_text()))
        sb.expect(said in proc.stderr_text(), "%s: log %r" % (what, proc.stderr_text()))
        sb.expect(not os.path.exists(work_copy + ".tmp"), "temporary file left")
        if expected is None:
            sb.expect(not os.path.exists(work_copy), "%s: a working copy was made" % what)
            continue
        with open(work_copy, "rb") as f:
            got = f.read()
        sb.expect(got == expected, "%s: working copy %r" % (what, got[:80]))
        mode = stat.S_IMODE(os.stat(work_copy).st_mode)
        sb.expect(mode == 0o600, "copy readable by others: %o" % mode)
    mode = stat.S_IMODE(os.stat(RUN_COPY).st_mode)
    sb.expect(mode == 0o600, "the /run copy keeps mode %o" % mode)


def test_prepare_links_the_box_scripts(sb):
    proc = prepare(sb, b"control_enabled=1\n")
    link = os.path.join(SERVICE_DIR, "scripts")
    sb.expect(os.path.realpath(link) == BOX_SCRIPTS, "scripts link to %r" % os.path.realpath(link))
    sb.expect(os.access(os.path.join(link, "hdmi-mode.sh"), os.X_OK), "hdmi-mode.sh not reachable")
    sb.expect("missing" not in proc.stderr_text(), "warned: %r" % proc.stderr_text())
    # Run twice, with a script gone: the link is replaced, not nested, and the gap is reported.
    proc = prepare(sb, b"control_enabled=1\r\nosd_enabled=1\r\nhud_enabled=1\r\n", scripts=("hdmi-mode.sh",))
    sb.expect(proc.returncode() == 0, "exit %r" % proc.returncode())
    sb.expect(os.path.islink(link) and not os.path.islink(os.path.join(BOX_SCRIPTS, "box-scripts")),
              "link nested")
    sb.expect("hdmi-change.sh is missing" in proc.stderr_text(), "no warning: %r" % proc.stderr_text())
    # The daemon runs from the prepared folder with the boot partition's settings.
    daemon = sb.start([sb.binary("vantagebridge")], cwd=SERVICE_DIR)
    sb.expect(sb.wait_for(daemon, "Init FTP", timeout=30), "daemon did not start: %r" % daemon.stderr_text())
    sb.expect(sb.read_hud(625, 1) == b"\x01", "boot partition's settings not read: %r" % sb.read_hud(625, 2))


def test_prepare_without_a_readable_configuration(sb):
    # Neither file: the daemon still starts, with its own defaults.
    proc = prepare(sb, None, default="/run/vb/nowhere.conf")
    sb.expect(proc.returncode() == 0, "exit %r" % proc.returncode())
    sb.expect("/run/vb/nowhere.conf is missing" in proc.stderr_text(), "log %r" % proc.stderr_text())
    # A boot file that cannot be read: no copy at all (not the default, which
    # the daemon would later save over the settings it could not read).
    prepare(sb, b"osd_enabled=1\n")
    os.unlink(BOOT_CONF)
    os.makedirs(BOOT_CONF)
    try:
        proc = sb.start(["env", "VB_DEFAULT_CONF=" + DEFAULT_CONF, "VB_DAEMON=" + sb.binary("vantagebridge"), PREPARE,
                         SERVICE_DIR], name="prepare", cwd="/")
        sb.expect(sb.wait_until(lambda: not proc.running(), timeout=20), "preparation step still running")
        sb.expect(proc.returncode() == 0, "exit %r" % proc.returncode())
        sb.expect(not os.path.exists(os.path.join(SERVICE_DIR, "vantagebridge.conf")), "a working copy was left")
        sb.expect(BOOT_CONF + " cannot be read" in proc.stderr_text(), "log %r" % proc.stderr_text())
    finally:
        os.rmdir(BOOT_CONF)


def test_after_exit_pauses_only_after_a_crash(sb):
    cases = [
        # SERVICE_RESULT, EXIT_CODE, EXIT_STATUS, pauses
        ("exit-code", "exited", "2", False),
        ("exit-code", "exited", "3", False),
        ("exit-code", "exited", "100", False),
        ("success", "killed", "TERM", False),
        ("signal", "killed", "SEGV", True),
        ("core-dump", "dumped", "ABRT", True),
        ("watchdog", "killed", "ABRT", True),
        ("exit-code", "exited", "1", True),
    ]
    for result, code, status, pauses in cases:
        what = "%s %s %s" % (result, code, status)
        env = ["env", "SERVICE_RESULT=" + result, "EXIT_CODE=" + code, "EXIT_STATUS=" + status]
        proc = sb.start(env + [AFTER_EXIT, "30"], name="after-exit", cwd="/")
        if pauses:
            # It says so, then waits in a sleep of its own.
            sb.expect(sb.wait_for(proc, "restarting in 30 s", timeout=10), "%s: no pause announced" % what)
            pgrep = ["pgrep", "-P", str(proc.pid), "-x", "sleep"]
            sleeping = lambda: subprocess.run(pgrep, stdout=subprocess.DEVNULL).returncode == 0
            sb.expect(sb.wait_until(sleeping, timeout=10), "%s: not pausing" % what)
        else:
            sb.expect(sb.wait_until(lambda: not proc.running(), timeout=10), "%s: paused" % what)
            sb.expect("restarting" not in proc.stderr_text(), "%s: %r" % (what, proc.stderr_text()))
        sb.stop(proc)


class NotifySocket:
    """A service manager's notify socket: collects the messages and the sender's pid."""

    def __init__(self):
        if os.path.exists(NOTIFY_PATH):
            os.unlink(NOTIFY_PATH)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(NOTIFY_PATH)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_PASSCRED, 1)
        self.messages = []  # (pid, text, monotonic time)

    def wait_for(self, text, timeout):
        deadline = time.monotonic() + timeout
        while True:
            for message in self.messages:
                if message[1] == text:
                    self.messages.remove(message)
                    return message
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                data, ancillary, _, _ = self.sock.recvmsg(4096, socket.CMSG_SPACE(12))
            except socket.timeout:
                return None
            pid = None
            for level, kind, payload in ancillary:
                if level == socket.SOL_SOCKET and kind == socket.SCM_CREDENTIALS:
                    pid = struct.unpack("iII", payload[:12])[0]
            for line in data.decode().splitlines():
                self.messages.append((pid, line, time.monotonic()))

    def drain(self):
        """Reads what has arrived by now; returns the texts."""
        self.sock.setblocking(False)
        try:
            while True:
                data = self.sock.recv(4096)
                self.messages += [(None, line, 0) for line in data.decode().split()]
        except BlockingIOError:  # nothing more waiting
            return [m[1] for m in self.messages]

    def close(self):
        self.sock.close()
        os.unlink(NOTIFY_PATH)


def start_notified_daemon(sb):
    return sb.start(["env", "NOTIFY_SOCKET=" + NOTIFY_PATH, sb.binary("vantagebridge")], name="vantagebridge")


def thread_id(pid, name):
    for tid in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
            if f.read().strip() == name:
                return int(tid)
    return None


class HeldThread:
    """Stops one thread of a process, and only that one, as a hang would:
    ptrace's seize and interrupt act on a single thread."""

    SEIZE, INTERRUPT, DETACH = 0x4206, 0x4207, 17

    def __init__(self, tid):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
        self.tid = tid
        for request in (self.SEIZE, self.INTERRUPT):
            if self.libc.ptrace(request, tid, None, None) != 0:
                raise OSError(ctypes.get_errno(), "ptrace %#x of thread %d" % (request, tid))
        os.waitpid(tid, 0x40000000)  # __WALL: the thread is stopped

    def release(self):
        self.libc.ptrace(self.DETACH, self.tid, None, None)


def test_ready_then_keep_alive_while_the_watchdog_thread_runs(sb):
    notify = NotifySocket()
    held = None
    try:
        daemon = start_notified_daemon(sb)
        ready = notify.wait_for("READY=1", timeout=30)
        sb.expect(ready is not None, "no READY=1; daemon said %r" % daemon.stderr_text())
        # The start time-out is stretched past the deadline of the shell command run before READY=1.
        extend = [m for m in notify.messages if m[1].startswith("EXTEND_TIMEOUT_USEC=")]
        sb.expect(extend and int(extend[0][1].split("=")[1]) > 30000000 and extend[0][2] <= ready[2],
                  "no EXTEND_TIMEOUT_USEC before READY=1: %r" % notify.messages)
        sb.expect(ready[0] == daemon.pid, "READY=1 from pid %r, daemon is %r" % (ready[0], daemon.pid))
        # Ready means the viewer port is bound and the record mapped.
        sb.expect("Init FTP" in daemon.stderr_text(), "ready before start-up ended: %r" % daemon.stderr_text())
        sb.expect(sb.read_hud(0, 1) == b"\x02", "record not mapped at READY=1")
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind(("0.0.0.0", 4242))
            sb.expect(False, "port 4242 still free at READY=1")
        except OSError:
            pass
        finally:
            probe.close()
        pings = [notify.wait_for("WATCHDOG=1", timeout=15) for _ in range(3)]
        sb.expect(all(pings), "keep-alive missing: %r" % pings)
        sb.expect(all(p[0] == daemon.pid for p in pings), "keep-alive from %r" % [p[0] for p in pings])

        # A hung watchdog thread stops the keep-alive; the main loop goes on.
        viewer = sb.start_tool("vb-viewer", "--data-only")
        sb.expect(si.wait_line(viewer, "status ", timeout=15), "no status reached the viewer")
        tid = thread_id(daemon.pid, "watchdog")
        sb.expect(tid is not None, "no watchdog thread")
        held = HeldThread(tid)
        # The main loop sends viewers three status messages a pass (0.8 s), then
        # pings if the watchdog thread went round since: after one pass (a ping
        # may be under way), four more passes without a ping.
        def main_loop_passes(n):
            since = len(si.lines(viewer))
            counted = lambda ls: sum(line.startswith("status ") for line in ls) >= 3 * n
            sb.expect(si.wait_lines(viewer, counted, 20, since)[1], "the main loop stopped")

        main_loop_passes(1)
        notify.drain()
        notify.messages.clear()
        main_loop_passes(4)
        sb.expect("WATCHDOG=1" not in notify.drain(), "keep-alive sent while the watchdog hangs")
        held.release()
        held = None
        sb.expect(notify.wait_for("WATCHDOG=1", timeout=15) is not None, "keep-alive did not resume")
    finally:
        if held:
            held.release()
        notify.close()


def start_in_journal(sb):
    """The daemon with JOURNAL_STREAM naming its standard error, as under systemd."""
    name = 'JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$0"'
    return sb.start(["sh", "-c", name, sb.binary("vantagebridge")], name="vantagebridge")


def test_journal_gets_priorities_and_plain_text(sb):
    first = start_in_journal(sb)
    sb.expect(sb.wait_for(first, "Init FTP", timeout=30), "daemon did not start: %r" % first.stderr_text())
    sb.expect("\nInit device discovery\n" in first.stderr_text(), "an info line with a prefix: %r"
              % first.stderr_text())
    sb.expect("\033" not in first.stdout_text() and "Vantagebridge" in first.stdout_text(),
              "banner %r" % first.stdout_text())
    # Both fatal lines, at err.
    second = start_in_journal(sb)
    sb.expect(sb.wait_until(lambda: not second.running(), 15) and second.returncode() == 100,
              "second copy: exit %r" % second.returncode())
    sb.expect(second.stderr_text() == "<3>another copy is running\n", "second copy said %r" % second.stderr_text())
    sb.stop(first)
    taken = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sb.expect(sb.wait_until(lambda: bound(taken, 4242), 15), "port 4242 still held")
        third = start_in_journal(sb)
        sb.expect(sb.wait_until(lambda: not third.running(), 20) and third.returncode() == 100,
                  "port taken: exit %r" % third.returncode())
        sb.expect("\n<3>discovery bind failed\n" in third.stderr_text(), "said %r" % third.stderr_text()[-200:])
    finally:
        taken.close()


def bound(sock, port):
    """Binds sock to port once the last daemon's children let go of it."""
    try:
        sock.bind(("0.0.0.0", port))
        return True
    except OSError:
        return False


TESTS = [
    test_prepare_picks_the_configuration,
    test_prepare_links_the_box_scripts,
    test_prepare_without_a_readable_configuration,
    test_after_exit_pauses_only_after_a_crash,
    test_ready_then_keep_alive_while_the_watchdog_thread_runs,
    test_journal_gets_priorities_and_plain_text,
]

if __name__ == "__main__":
    sandbox.main(TESTS)
