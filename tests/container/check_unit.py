"""The package under a real systemd: a Debian 12 root made by mmdebstrap,
booted with systemd-nspawn (systemd as PID 1, a network of its own with only
loopback), the built package installed into it with apt, and the units'
contract checked from outside through nsenter. Run as root after
scripts/package:

    python3 tests/container/check_unit.py [build-package]

The root is kept in /var/cache/vantagebridge-test (VB_CONTAINER_CACHE) and
made again only when its recipe below changes. Every run boots an overlay of
it whose upper layer is a temporary folder, so the kept root never changes.
/boot is an ext4 image of the run's own on a loop device, mounted by the
container's fstab: a remount inside reaches that image and nothing of the
host's. All mounts live in a private mount namespace of this program.

Where the host's PID 1 is not systemd (cgroup v1 with cgroup2 beside it, as on
CI's machine), `--keep-unit --register=no` lets nspawn run from any process:
it neither asks a host systemd for a scope nor registers the machine.

Prints "PASS name" or "FAIL name: why" per check and the closing count."""

import glob
import hashlib
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "package"))
from check_package import Checks, run  # noqa: E402

CACHE = os.environ.get("VB_CONTAINER_CACHE", "/var/cache/vantagebridge-test")
SUITE = "bookworm"
# What the package needs at run time (its Depends and Recommends, so apt finds
# everything offline), systemd itself, and what the checks run inside.
PACKAGES = ["systemd", "systemd-sysv", "dbus", "libcjson1", "libinih1", "libcurl4", "libsystemd0",
            "libncursesw6", "libmicrohttpd12", "libx264-164", "psmisc", "sudo", "wireless-tools",
            "iproute2", "procps", "curl", "python3"]
# Timers and gettys that would only add noise to the journal and the boot.
MASKED = ["apt-daily.timer", "apt-daily-upgrade.timer", "dpkg-db-backup.timer", "e2scrub_all.timer",
          "fstrim.timer", "console-getty.service", "getty@.service", "systemd-timesyncd.service"]
HOSTNAME = "vbbox"
RECIPE = {"suite": SUITE, "variant": "apt", "include": PACKAGES, "mask": MASKED, "hostname": HOSTNAME}

UNIT = "vantagebridge.service"
WEB_UNIT = "vb-web.service"
SCRIPT_LOG = "/run/vb-box-scripts.log"
# The camera's USB link: the box's end "usb0", the camera stand-in at the far
# end in a network namespace of its own inside the container.
CAMERA_NETNS = "camera"
CAMERA_LINK_BOX_ADDRESS = "10.98.0.1"
CAMERA_ADDRESS = "10.98.0.2"
PATH = "/usr/sbin:/usr/bin:/sbin:/bin"


def log(text):
    print("  " + text)
    sys.stdout.flush()


def kept_root():
    """The root for the current recipe, made when missing; older ones are removed."""
    key = hashlib.sha256(json.dumps(RECIPE, sort_keys=True).encode()).hexdigest()[:16]
    root = os.path.join(CACHE, "root-" + key)
    if os.path.exists(os.path.join(root, ".complete")):
        return root
    os.makedirs(CACHE, exist_ok=True)
    for old in glob.glob(os.path.join(CACHE, "root-*")):
        shutil.rmtree(old, ignore_errors=True)
    partial = root + ".partial"
    tarball = root + ".tar"
    hooks = ["--customize-hook=chroot \"$1\" systemctl mask " + " ".join(MASKED),
             "--customize-hook=echo %s > \"$1/etc/hostname\"" % HOSTNAME]
    log("making the container's root with mmdebstrap (once per recipe)")
    result = run(["mmdebstrap", "--variant=apt", "--include=" + ",".join(PACKAGES)] + hooks + [SUITE, tarball])
    if result.returncode != 0:
        raise RuntimeError("mmdebstrap failed: %s" % result.stderr[-2000:])
    os.makedirs(partial)
    subprocess.run(["tar", "-xf", tarball, "-C", partial], check=True)
    os.unlink(tarball)
    open(os.path.join(partial, ".complete"), "w").close()
    os.rename(partial, root)
    return root


def enter_private_mounts():
    """Re-executes this program in a mount namespace of its own."""
    outer = os.environ.get("VB_CONTAINER_OUTER_NS")
    here = os.readlink("/proc/self/ns/mnt")
    if outer is None:
        os.environ["VB_CONTAINER_OUTER_NS"] = here
        sys.stdout.flush()
        os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", "--",
                              sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    if outer == here:
        raise RuntimeError("not inside a private mount namespace; refusing to mount anything")


class Container:
    """The booted container: commands run inside through nsenter."""

    def __init__(self, root, package_dir, work):
        self.work = work
        self.merged = os.path.join(work, "merged")
        for name in ("upper", "overlay-work", "merged"):
            os.makedirs(os.path.join(work, name))
        subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                        "lowerdir=%s,upperdir=%s/upper,workdir=%s/overlay-work" % (root, work, work),
                        self.merged], check=True)
        # nspawn keeps its own state under /run/systemd/nspawn: a private /run.
        subprocess.run(["mount", "-t", "tmpfs", "vb-container-run", "/run"], check=True)
        self.loop = self._boot_image()
        self._lay_out()
        self.console = open(os.path.join(work, "console.log"), "w")
        self.cgroups = self._own_cgroups()
        self.nspawn = subprocess.Popen(
            ["systemd-nspawn", "--quiet", "-D", self.merged, "--boot", "--keep-unit", "--register=no",
             "--private-network", "--machine=vbtest", "--console=read-only", "--bind=" + self.loop,
             "--bind-ro=%s:/mnt/package" % os.path.abspath(package_dir)],
            stdin=subprocess.DEVNULL, stdout=self.console, stderr=subprocess.STDOUT, preexec_fn=self._join_cgroups)
        self.leader = self._find_leader()
        # Until the manager's socket is there, systemctl only says "offline".
        wait_until(lambda: self.run(["systemctl", "is-system-running"]).stdout.strip() not in ("offline", ""), 120)
        state = self.run(["systemctl", "is-system-running", "--wait"], timeout=180).stdout.strip()
        # Without udev in the container no device unit ever appears, so the
        # fstab line is mounted here, as the box's boot would have.
        mounted = self.run(["mount", "/boot"])
        if mounted.returncode != 0:
            raise RuntimeError("/boot not mounted: %s" % mounted.stderr.strip())
        self._camera_link()
        # The governor file start-up writes through sudo: a folder of the
        # container's own over cpu0 (the host may have no frequency scaling).
        cpu0 = "/sys/devices/system/cpu/cpu0"
        governor = self.sh("mount -t tmpfs -o mode=755 vb-cpu0 %s && mkdir %s/cpufreq && "
                           "echo ondemand > %s/cpufreq/scaling_governor" % (cpu0, cpu0, cpu0))
        if governor.returncode != 0:
            raise RuntimeError("governor file: %s" % governor.stderr.strip())
        log("container up (system %s, leader pid %d, /boot on %s)" % (state, self.leader, self.loop))

    def _own_cgroups(self):
        # nspawn keeps its supervisor and the container in cgroups below its
        # own: below one of this run's, removed at the end, never the host's root.
        made = []
        for hierarchy in ("systemd", "unified"):
            base = "/sys/fs/cgroup/" + hierarchy
            if os.path.isdir(base):
                path = os.path.join(base, "vb-container-%d" % os.getpid())
                os.makedirs(path, exist_ok=True)
                made.append(path)
        return made

    def _join_cgroups(self):
        for path in self.cgroups:
            with open(os.path.join(path, "cgroup.procs"), "w") as f:
                f.write("0")

    def _boot_image(self):
        # An ext4 image (the host kernel may lack vfat) holding the settings
        # (viewers' control on) and the file the recalibration deletes.
        seed = os.path.join(self.work, "boot-seed")
        os.makedirs(seed)
        with open(os.path.join(seed, "rcin.cal"), "w") as f:
            f.write("calibration\n")
        with open(os.path.join(seed, "vantagebridge-cable.conf"), "w", newline="") as f:
            f.write("control_enabled=1\r\n")
        image = os.path.join(self.work, "boot.img")
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        subprocess.run(["mkfs.ext4", "-q", "-F", "-L", "boot", "-d", seed, image], check=True)
        return run(["losetup", "--find", "--show", image], check=True).stdout.strip()

    def _lay_out(self):
        etc = os.path.join(self.merged, "etc")
        with open(os.path.join(etc, "fstab"), "w") as f:
            f.write("%s /boot ext4 ro 0 0\n" % self.loop)
        with open(os.path.join(etc, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n127.0.1.1 %s\n" % HOSTNAME)
        with open(os.path.join(etc, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\n")
        # The box's own scripts: each call recorded.
        scripts = os.path.join(etc, "vantagebridge", "scripts")
        os.makedirs(scripts)
        for name in ("hdmi-change.sh", "hdmi-mode.sh"):
            path = os.path.join(scripts, name)
            with open(path, "w") as f:
                f.write("#!/bin/sh\necho \"$(basename \"$0\") $*\" >> %s\n" % SCRIPT_LOG)
            os.chmod(path, 0o755)

    def _camera_link(self):
        steps = [["ip", "netns", "add", CAMERA_NETNS],
                 ["ip", "link", "add", "usb0", "type", "veth", "peer", "name", "cam0", "netns", CAMERA_NETNS],
                 ["ip", "addr", "add", CAMERA_LINK_BOX_ADDRESS + "/24", "dev", "usb0"],
                 ["ip", "link", "set", "usb0", "up"],
                 ["ip", "-n", CAMERA_NETNS, "addr", "add", CAMERA_ADDRESS + "/24", "dev", "cam0"],
                 ["ip", "-n", CAMERA_NETNS, "link", "set", "cam0", "up"],
                 ["ip", "-n", CAMERA_NETNS, "link", "set", "lo", "up"]]
        for step in steps:
            result = self.run(step)
            if result.returncode != 0:
                raise RuntimeError("camera link: %s: %s" % (" ".join(step), result.stderr.strip()))

    def _find_leader(self):
        ours = os.readlink("/proc/self/ns/pid")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            for entry in os.listdir("/proc"):
                if not entry.isdigit():
                    continue
                try:
                    with open("/proc/%s/status" % entry) as f:
                        status = f.read()
                    ppid = int(re.search(r"^PPid:\s+(\d+)", status, re.M).group(1))
                    if ppid == self.nspawn.pid and os.readlink("/proc/%s/ns/pid" % entry) != ours:
                        return int(entry)
                except (OSError, AttributeError):
                    continue
            if self.nspawn.poll() is not None:
                break
            time.sleep(0.1)
        raise RuntimeError("the container did not start: %s" % self.console_tail())

    def console_tail(self):
        with open(os.path.join(self.work, "console.log"), errors="replace") as f:
            return "".join(f.readlines()[-20:])

    def command(self, argv):
        return ["nsenter", "-t", str(self.leader), "-m", "-u", "-i", "-n", "-p", "-r", "-w",
                "env", "-i", "PATH=" + PATH, "LANG=C.UTF-8", "SYSTEMD_COLORS=0", "SYSTEMD_PAGER=",
                "DEBIAN_FRONTEND=noninteractive"] + list(argv)

    def run(self, argv, timeout=60, input=None):
        return subprocess.run(self.command(argv), capture_output=True, text=True, timeout=timeout, input=input,
                              start_new_session=True)

    def sh(self, script, timeout=60):
        return self.run(["sh", "-c", script], timeout=timeout)

    def start(self, argv, stdin=subprocess.DEVNULL):
        """A program left running inside (ended with the container)."""
        return subprocess.Popen(self.command(argv), stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, start_new_session=True)

    def start_helper(self, code):
        """A Python helper inside that prints its pid once ready; returns that pid."""
        proc = self.start(["python3", "-c", "import os, socket, time\n" + code +
                           "\nprint(os.getpid(), flush=True)\ntime.sleep(3600)"])
        line = proc.stdout.readline().strip()
        assert line.isdigit(), "helper did not start: %r" % line
        return line

    def signal(self, pid, name):
        assert int(pid) > 0, "no process to send %s to" % name
        self.run(["kill", "-" + name, str(pid)])

    def read(self, path):
        result = self.run(["cat", path])
        return result.stdout if result.returncode == 0 else None

    def write(self, path, text):
        self.run(["sh", "-c", "cat > \"$1\"", "sh", path], input=text)

    def show(self, unit, *names):
        out = self.run(["systemctl", "show", unit, "-p", ",".join(names)]).stdout
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return values if len(names) > 1 else values.get(names[0], "")

    def main_pid(self):
        return int(self.show(UNIT, "MainPID") or 0)

    def send_json(self, command):
        text = json.dumps(command, separators=(",", ":"))
        result = self.run(["vb-viewer", "--no-register", "--send", text, "--seconds", "0.6", "--quiet-video"])
        assert result.returncode == 0, "vb-viewer did not send %s: %s" % (text, result.stderr.strip())

    def cursor(self):
        out = self.run(["journalctl", "-n", "0", "--show-cursor", "-q"]).stdout
        found = re.search(r"cursor: (\S+)", out)
        return found.group(1) if found else None

    def journal(self, *args, after=None):
        """Journal entries (as dicts) of the given match, after a cursor."""
        argv = ["journalctl", "-o", "json", "--no-pager"] + list(args)
        if after:
            argv += ["--after-cursor", after]
        entries = []
        for line in self.run(argv).stdout.splitlines():
            try:
                entries.append(json.loads(line))
            except ValueError:
                pass
        return entries

    def close(self):
        if self.nspawn.poll() is None:
            self.nspawn.send_signal(signal.SIGTERM)  # nspawn asks the container's systemd to power off
            try:
                self.nspawn.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.nspawn.kill()
                self.nspawn.wait()
        self.console.close()
        for path in self.cgroups:
            for folder, _, _ in sorted(os.walk(path), key=lambda w: -len(w[0])):
                try:
                    os.rmdir(folder)
                except OSError as e:
                    log("cgroup %s not removed: %s" % (folder, e))
        subprocess.run(["umount", "-l", self.merged], check=False)
        subprocess.run(["losetup", "-d", self.loop], check=False)


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            return value
        time.sleep(step)


def read_until(proc, line, timeout):
    """Lines of proc's output up to and with the first that is line (all read
    when it never comes before the deadline)."""
    seen = ""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], deadline - time.monotonic())
        if not ready:
            break
        text = proc.stdout.readline()
        if not text:
            break
        seen += text
        if text.strip() == line:
            break
    return seen


def message(entry):
    """An entry's text; a blob (a list of byte values) decoded as it is."""
    text = entry.get("MESSAGE", "")
    return bytes(text).decode("utf-8", "replace") if isinstance(text, list) else text


def active_with_new_pid(c, old_pid):
    def check():
        pid = c.main_pid()
        return pid if pid not in (0, old_pid) and c.show(UNIT, "ActiveState") == "active" else 0
    return check


def restart_gap(c, after):
    """Seconds from the main process's exit to the restart systemd scheduled,
    from the journal's own stamps (the after-exit step runs in between)."""
    exited = scheduled = None
    for e in c.journal("-u", UNIT, after=after):
        text = message(e)
        if exited is None and ("Main process exited" in text or "Killing process" in text):
            exited = int(e["__REALTIME_TIMESTAMP"])
        elif exited is not None and "Scheduled restart job" in text:
            scheduled = int(e["__REALTIME_TIMESTAMP"])
            break
    if exited is None or scheduled is None:
        return None
    return (scheduled - exited) / 1e6


# The checks, in the order they run: each leaves the unit active.

def check_installs_and_starts(c):
    debs = c.run(["sh", "-c", "ls /mnt/package/vantagebridge_*_$(dpkg --print-architecture).deb"]).stdout.split()
    assert len(debs) == 1, "expected one package for this architecture in /mnt/package: %r" % debs
    result = c.run(["apt-get", "install", "-y", "--no-install-recommends", debs[0]], timeout=300)
    assert result.returncode == 0, "apt-get install: %s" % (result.stdout + result.stderr)[-1500:]
    for unit in (UNIT, WEB_UNIT):
        enabled = c.run(["systemctl", "is-enabled", unit]).stdout.strip()
        assert enabled == "enabled", "%s is %s after installation" % (unit, enabled)
    active = wait_until(lambda: c.show(UNIT, "ActiveState") == "active", 30)
    assert active, "the daemon is %s after installation" % c.show(UNIT, "ActiveState")


def check_active_only_when_ready(c):
    # systemctl returns once the unit is active: READY=1 came, so the ports
    # are bound and the record is there at that moment.
    result = c.run(["systemctl", "restart", UNIT], timeout=120)
    assert result.returncode == 0, "restart failed: %s" % result.stderr.strip()
    sockets = c.run(["ss", "-Hlun"]).stdout
    size = c.run(["stat", "-c", "%s", "/dev/shm/hud_mem"]).stdout.strip()
    assert re.search(r":4242\b", sockets), "port 4242 not bound when active: %s" % sockets
    assert size and int(size) > 0, "no /hud_mem when active"
    log("active with 4242 bound and /hud_mem of %s bytes" % size)


def check_web_page(c):
    active = wait_until(lambda: c.show(WEB_UNIT, "ActiveState") == "active", 30)
    assert active, "vb-web is %s" % c.show(WEB_UNIT, "ActiveState")
    page = c.run(["curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}", "http://localhost:8080/"])
    assert page.stdout == "200", "GET / answered %r %s" % (page.stdout, page.stderr.strip())
    post = c.run(["curl", "-sS", "-w", "\n%{http_code}", "-H", "Content-Type: application/json",
                  "-H", "Origin: http://localhost:8080", "--data", '{"cmd":"configrequest"}',
                  "http://localhost:8080/api/command"], timeout=30)
    body, _, code = post.stdout.rpartition("\n")
    assert code == "200", "POST /api/command answered %r: %s %s" % (code, body[:200], post.stderr.strip())
    assert body.lstrip().startswith("{"), "no report in the answer: %r" % body[:200]
    log("GET / 200, POST configrequest 200")


def boot_options(c):
    return c.run(["findmnt", "-n", "-o", "OPTIONS", "/boot"]).stdout.strip()


def check_duties_under_hardening(c):
    problems = []
    # A save to /boot, which is read-only again afterwards.
    before = c.cursor()
    c.send_json({"cmd": "updateparam", "name": "osd_borders", "value": "300", "value2": "20"})
    saved = wait_until(lambda: "osd_border_height=20" in (c.read("/boot/vantagebridge-cable.conf") or ""), 30)
    if not saved:
        said = [message(e) for e in c.journal("-u", UNIT, after=before)]
        problems.append("no save reached /boot: %s" % said[-8:])
    if not wait_until(lambda: boot_options(c).startswith("ro,"), 30):
        problems.append("/boot is %s after the save" % boot_options(c))
    # The recalibration deletes the calibration file on /boot.
    c.send_json({"cmd": "rc", "name": "recalibrate"})
    gone = wait_until(lambda: c.run(["test", "-e", "/boot/rcin.cal"]).returncode != 0, 30)
    if not gone:
        problems.append("/boot/rcin.cal still there after rc recalibrate")
    # The governor, set through sudo at start-up.
    governor = (c.read("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor") or "").strip()
    if governor != "performance":
        problems.append("governor %r after start-up" % governor)
    # A box script.
    c.send_json({"cmd": "updateparam", "name": "hdmi_enabled", "value": "1"})
    ran = wait_until(lambda: "hdmi-change.sh 1" in (c.read(SCRIPT_LOG) or ""), 30)
    if not ran:
        problems.append("hdmi-change.sh did not run: %r" % c.read(SCRIPT_LOG))
    # The video relay, camera stand-in to a registered viewer.
    before = c.cursor()
    viewer = c.start(["vb-viewer", "--quiet-video", "--seconds", "120"], stdin=subprocess.PIPE)
    acked = read_until(viewer, "ack", 15)
    camera = c.run(["ip", "netns", "exec", CAMERA_NETNS, "vb-camera", "--box", CAMERA_LINK_BOX_ADDRESS + ":5001",
                    "--no-queries", "--no-telemetry", "--video-kbps", "2000", "--seconds", "3"], timeout=60)
    out, _ = viewer.communicate("quit\n", timeout=60)
    out = acked + out
    sent = re.search(r"video=(\d+)", camera.stdout)
    got = re.search(r"video=(\d+) dgrams", out)
    if "ack" not in acked or not sent or not got or int(got.group(1)) != int(sent.group(1)) or int(sent.group(1)) == 0:
        said = [message(e) for e in c.journal("-u", UNIT, after=before)]
        problems.append("video relay: camera %r, viewer %r; %s" % (sent and sent.group(0), got and got.group(0),
                                                                   said[-8:]))
    else:
        log("save, read-only again, recalibration, box script, video %s of %s" % (got.group(1), sent.group(1)))
    assert not problems, "; ".join(problems)


def check_restarts(c):
    problems = []
    # Exit codes 2 and 3: at once.
    for name, command in (("exit 3", {"cmd": "restart"}), ("exit 2", None), ("exit 2, back", None)):
        if command is None:
            config = c.read("/run/vantagebridge/vantagebridge.conf") or ""
            current = re.search(r"^control_enabled\s*=\s*(\S+)", config, re.M)
            value = "0" if current and current.group(1) in ("1", "true") else "1"
            command = {"cmd": "updateparam", "name": "ctrl_enabled", "value": value}
        before, pid = c.cursor(), c.main_pid()
        c.send_json(command)
        if not wait_until(active_with_new_pid(c, pid), 30):
            problems.append("%s: not restarted" % name)
            continue
        gap = restart_gap(c, before)
        log("%s: restart scheduled %s s after the exit" % (name, gap))
        if gap is None or gap > 1.0:
            problems.append("%s: restart after %s s" % (name, gap))
    # A crash: after the pause.
    before, pid = c.cursor(), c.main_pid()
    c.signal(pid, "SEGV")
    if not wait_until(active_with_new_pid(c, pid), 30):
        problems.append("crash: not restarted")
    else:
        gap = restart_gap(c, before)
        log("crash: restart scheduled %s s after the exit" % gap)
        if gap is None or gap < 2.0:
            problems.append("crash: restart after %s s, not after the pause" % gap)
    assert not problems, "; ".join(problems)


def check_exit_100_is_final_and_fatal_lines_are_errors(c):
    problems = []
    c.run(["systemctl", "stop", UNIT])
    before = c.cursor()
    holder = c.start_helper("s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('0.0.0.0', 4242))")
    c.run(["systemctl", "start", UNIT], timeout=60)
    # Failed, not "auto-restart": systemd decided against a restart.
    def settled():
        s = c.show(UNIT, "ActiveState", "SubState", "ExecMainStatus")
        return s if s.get("ActiveState") in ("failed", "inactive") else None
    state = wait_until(settled, 30) or c.show(UNIT, "ActiveState", "SubState", "ExecMainStatus")
    if state.get("ExecMainStatus") != "100" or state.get("SubState") != "failed":
        problems.append("with 4242 taken: %s" % state)
    c.signal(holder, "KILL")
    fatal = [e for e in c.journal("-u", UNIT, after=before) if "discovery bind failed" in message(e)]
    if not fatal or fatal[0].get("PRIORITY") != "3":
        problems.append("\"discovery bind failed\" at priority %s" % (fatal[0].get("PRIORITY") if fatal else None))
    c.run(["systemctl", "reset-failed", UNIT])
    result = c.run(["systemctl", "start", UNIT], timeout=120)
    if result.returncode != 0:
        said = [message(e) for e in c.journal("-u", UNIT, after=before)]
        problems.append("start after freeing 4242: %s %s" % (result.stderr.strip(), said[-6:]))
    # A second copy beside the running one.
    second = c.run(["systemd-run", "--unit=vb-second", "--wait", "-q", "-p", "WorkingDirectory=/run/vantagebridge",
                    "-p", "RuntimeMaxSec=30", "/usr/sbin/vantagebridge"], timeout=60)
    copy = [e for e in c.journal("-u", "vb-second.service") if "another copy is running" in message(e)]
    if "100" not in second.stderr and second.returncode == 0:
        problems.append("a second copy did not end with 100: %s" % second.stderr.strip())
    if not copy or copy[0].get("PRIORITY") != "3":
        problems.append("\"another copy is running\" at priority %s" % (copy[0].get("PRIORITY") if copy else None))
    log("exit 100: %s/%s, no restart" % (state.get("ActiveState"), state.get("SubState")))
    assert not problems, "; ".join(problems)


def check_journal_priorities_and_text(c):
    entries = c.journal("-u", UNIT, "_COMM=vantagebridge")
    assert entries, "no daemon lines in the journal"
    blobs = [e for e in entries if isinstance(e.get("MESSAGE"), list)]
    escapes = [message(e) for e in entries if "\x1b" in message(e)]
    info = [e for e in entries if "Init device discovery" in message(e)]
    problems = []
    if blobs:
        problems.append("%d lines stored as binary blobs, first %r" % (len(blobs), message(blobs[0])[:60]))
    if escapes:
        problems.append("escape codes in %r" % escapes[0][:60])
    if not info or any(e.get("PRIORITY") != "6" for e in info):
        problems.append("\"Init device discovery\" at priority %s" % [e.get("PRIORITY") for e in info][:3])
    priorities = sorted({e.get("PRIORITY") for e in entries})
    log("%d daemon lines, priorities %s" % (len(entries), priorities))
    assert not problems, "; ".join(problems)


def check_watchdog_kills_a_stopped_daemon(c):
    before, pid = c.cursor(), c.main_pid()
    c.signal(pid, "STOP")
    restarted = wait_until(active_with_new_pid(c, pid), 90, step=0.2)
    assert restarted, "a stopped daemon was not restarted: %s" % c.show(UNIT, "ActiveState", "SubState")
    said = [message(e) for e in c.journal("-u", UNIT, after=before) if "atchdog" in message(e)]
    assert said, "no watchdog line in the journal"
    log("watchdog: %s" % said[0])


def check_stop_is_clean_and_quick(c):
    start = time.monotonic()
    result = c.run(["systemctl", "stop", UNIT], timeout=30)
    seconds = time.monotonic() - start
    state = c.show(UNIT, "ActiveState", "Result")
    c.run(["systemctl", "start", UNIT], timeout=120)
    log("stop took %.2f s, %s" % (seconds, state))
    assert result.returncode == 0 and state["Result"] == "success", "stop: %s %s" % (state, result.stderr)
    assert seconds < 1.0, "stop took %.2f s" % seconds


def check_routine_restarts_never_exhaust_the_limit(c):
    c.run(["systemctl", "reset-failed", UNIT])
    for i in range(11):
        pid = c.main_pid()
        c.send_json({"cmd": "restart"})
        if not wait_until(active_with_new_pid(c, pid), 30):
            state = c.show(UNIT, "ActiveState", "SubState", "Result")
            raise AssertionError("restart %d of 11 left the unit %s" % (i + 1, state))
    log("11 restarts in %s, unit %s" % ("under a minute", c.show(UNIT, "ActiveState")))


def check_start_survives_a_hung_command_before_ready(c):
    # A sudo that hangs (as one waiting on a silent name server does) past the
    # daemon's 30 s deadline for a shell command, which start-up runs before
    # READY=1: the start must outlast it.
    c.run(["systemctl", "reset-failed", UNIT])
    diverted = c.run(["dpkg-divert", "--local", "--rename", "--add", "/usr/bin/sudo"])
    assert diverted.returncode == 0, "dpkg-divert: %s" % diverted.stderr.strip()
    c.write("/usr/bin/sudo", "#!/bin/sh\nsleep 40\nexec /usr/bin/sudo.distrib \"$@\"\n")
    c.run(["chmod", "755", "/usr/bin/sudo"])
    try:
        before = c.cursor()
        start = time.monotonic()
        result = c.run(["systemctl", "restart", UNIT], timeout=300)
        seconds = time.monotonic() - start
        state = c.show(UNIT, "ActiveState", "Result")
        killed = [message(e) for e in c.journal("-u", UNIT, after=before) if "timed out" in message(e)]
        log("start with a hung sudo took %.1f s: %s; %s" % (seconds, state, killed[:1]))
        assert killed, "sudo did not hang: no command timed out: %s %s" % (
            c.sh("ls -l /usr/bin/sudo*; cat /usr/bin/sudo").stdout,
            [message(e) for e in c.journal("-u", UNIT, after=before)][-10:])
        assert result.returncode == 0 and state["ActiveState"] == "active", \
            "start with a hung sudo: %s %s" % (state, result.stderr.strip())
    finally:
        c.run(["rm", "-f", "/usr/bin/sudo"])
        c.run(["dpkg-divert", "--local", "--rename", "--remove", "/usr/bin/sudo"])
        if c.show(UNIT, "ActiveState") != "active":
            c.run(["systemctl", "reset-failed", UNIT])
            c.run(["systemctl", "start", UNIT], timeout=120)


def check_remove_and_purge(c):
    problems = []
    for action in ("remove", "purge"):
        result = c.run(["apt-get", action, "-y", "vantagebridge"], timeout=300)
        if result.returncode != 0:
            problems.append("apt-get %s: %s" % (action, result.stderr.strip()[-300:]))
        running = c.run(["pgrep", "-x", "vantagebridge|vb-web"]).stdout.split()
        enabled = [u for u in (UNIT, WEB_UNIT)
                   if c.run(["systemctl", "is-enabled", u]).stdout.strip() in ("enabled", "enabled-runtime")]
        if running:
            problems.append("after %s still running: %s" % (action, running))
        if enabled:
            problems.append("after %s still enabled: %s" % (action, enabled))
    links = c.sh("find /etc/systemd/system -name 'vantagebridge*' -o -name 'vb-web*'").stdout.split()
    if links:
        problems.append("after purge: %s" % links)
    assert not problems, "; ".join(problems)


CHECKS = [check_installs_and_starts, check_active_only_when_ready, check_web_page, check_duties_under_hardening,
          check_restarts, check_exit_100_is_final_and_fatal_lines_are_errors, check_journal_priorities_and_text,
          check_watchdog_kills_a_stopped_daemon, check_stop_is_clean_and_quick,
          check_routine_restarts_never_exhaust_the_limit, check_start_survives_a_hung_command_before_ready,
          check_remove_and_purge]


def main():
    if os.geteuid() != 0:
        print("FAIL container: needs root (namespaces, loop devices, nspawn)\n0 passed, 1 failed")
        sys.exit(1)
    package_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build-package")
    root = kept_root()
    enter_private_mounts()
    names = sys.argv[2:]
    work = tempfile.mkdtemp(prefix="vb-container-", dir="/var/tmp")
    c = None
    checks = Checks(None, None)
    try:
        c = Container(root, package_dir, work)
        for check in CHECKS:
            if names and check.__name__ not in names and check is not CHECKS[0]:
                continue
            start = time.monotonic()
            run_check(checks, check, c)
            log("(%.0f s)" % (time.monotonic() - start))
    except Exception as e:  # the container itself did not come up
        checks.failed += 1
        print("FAIL container: %s" % e)
    finally:
        if c is not None:
            if checks.failed:
                log("console, last lines:\n" + c.console_tail())
            c.close()
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    sys.exit(1 if checks.failed or not checks.passed else 0)


def run_check(checks, check, c):
    def named(_):
        check(c)
    named.__name__ = check.__name__
    checks.run(named)


if __name__ == "__main__":
    main()
