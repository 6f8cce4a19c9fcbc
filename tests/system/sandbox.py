"""Sandbox for running the real daemon and its stand-ins without touching the machine.

The daemon runs shell commands (reboot, killall, mount, ...) and writes under
/boot, /run and /dev/shm. Everything that starts it goes through this module,
which re-executes the calling program inside private mount and network
namespaces (``unshare --mount --net --propagation private``) and there:

- mounts a tmpfs over /boot, /run and /dev/shm, and one holding the cpufreq
  folder of cpu0, whose governor file start-up writes through ``sudo echo ...``;
- brings the loopback interface up (the namespace's only other interfaces lead
  to namespaces of its own, so no datagram can leave the machine);
- gives it the camera's link: a veth pair whose end "usb0" (10.98.0.1/24,
  CAMERA_LINK_BOX_ADDRESS) sits in the sandbox, the daemon's side, and whose
  far end (10.98.0.2, CAMERA_ADDRESS) sits in a network namespace of its own,
  where the camera stand-in runs (see "The camera link" below);
- puts tests/system/stubs first on PATH and binds stubs over the real shutdown,
  killall, mount and umount programs, so a call by absolute path records too;
  each stub appends "name args" to $VB_STUB_LOG;
- makes a working directory (/run/vb/work) holding vantagebridge.conf and
  scripts/hdmi-change.sh and scripts/hdmi-mode.sh (recording stubs).

It needs root; run as anyone else it fails loudly.

Against a ThreadSanitizer build (VB_TSAN=ON in the build folder's CMake
cache), every program started here writes its reports to a file under
BUILD/tsan-reports/system (named for the test and the program) instead of its
standard error, and a test after which any such file appeared fails with the
reports' summary (race_reports.py), whatever else it checked. An
AddressSanitizer and UndefinedBehaviorSanitizer build (VB_SANITIZE=ON) does
the same with BUILD/asan-reports/system.

A system test (tests/system/test_<name>.py, run as ``python3 FILE --build DIR``):

    import sandbox

    def test_banner(sb):
        sb.write_config("control_enabled=1\\n")
        daemon = sb.start_daemon()
        sb.expect(sb.wait_for(daemon, "Init data source"), "no data source line")
        sb.expect("Vantagebridge" in daemon.stdout_text(), "no banner")

    if __name__ == "__main__":
        sandbox.main([test_banner])

``main`` enters the sandbox, runs each test with a fresh state (processes
stopped, /dev/shm, /boot and the stub log cleared, the default configuration
written), prints "PASS name" or "FAIL name: why" per test and then the line
"N passed, N failed", and exits non-zero when a test failed.

Helpers on the Sandbox object passed to each test:
    write_config(text) / remove_config()     the working directory's vantagebridge.conf
    start_daemon()                           build/vantagebridge, cwd = working directory
    start_tool(name, *args)                  build/<name> (vb-camera, vb-viewer, ...); vb-camera on the camera link
    start(argv)                              any program inside the sandbox
    wait_for(proc, text, timeout, stream)    waits for text in a process's stderr/stdout
    read_hud(offset, length)                 bytes of /dev/shm/hud_mem
    write_hud(offset, data)                  as a sibling process writing the record
    shm_size(name)                           size of /dev/shm/<name>, None when missing
    stub_log()                               lines the stubs recorded
    set_program_running(name, running)       what the pidof stub answers
    set_scan_output(text)                    what the iwlist stub prints
    wall_clock()                             a WallClock to start programs with
    set_program_hangs(name, hangs)           whether the umount or iwlist stub hangs
    set_program_fails(name, fails)           whether "mount /boot" fails
    outside_host()                           a host outside the box's connected networks (below)
    camera_link()                            the host at the far end of the camera's link (below)
    private_folder(path)                     an empty tmpfs over a folder of the machine, for this test only
    stop(proc) / stop_all()

A program started with ``wall_clock=clock`` (start, start_daemon, start_tool)
runs under libfaketime: its wall clock is shifted by ``clock.step(seconds)``
while its monotonic clock stays true, as on a box whose time is set late.

The outside host (made on first use in a test, removed between tests): a second
network namespace joined to the sandbox by a veth pair. The sandbox's end holds
10.99.0.1/30 (BOX_VETH_ADDRESS), the far end 10.99.0.2/30 (OUTSIDE_PEER_ADDRESS)
and 198.51.100.7/32 (OUTSIDE_ADDRESS); the sandbox reaches 198.51.100.0/24
only through a route via 10.99.0.2. Programs started there send from
198.51.100.7 unless they bind another address, so the daemon sees datagrams
that arrive but lie outside every network it is directly connected to:

    outside = sb.outside_host()
    viewer = outside.start_tool("vb-viewer", "--box", outside.box_address + ":4242")
    sender = outside.start_python("import socket; ...")   # python3 -c CODE inside

The camera link: the daemon takes camera frames (UDP 5001) and video (UDP
5000) only from the interface of the camera's USB link, usb0 unless the
working directory's "camera-interface" file names another (reset removes it).
So the camera stand-in runs at the far end of the sandbox's usb0:
``start_tool("vb-camera", ...)`` starts it in the camera link's namespace and,
unless the arguments name one with --box, points it at 10.98.0.1:5001. Other
programs that play the camera (a video sender, an FTP server on the camera's
address) start there too; what the same programs send from the sandbox itself
(loopback) or from the outside host is not the camera's:

    link = sb.camera_link()
    link.start_python("import socket; ...")   # sends from link.address to link.box_address
    link.start([ffmpeg, ..., "udp://%s:5000" % link.box_address])

``python3 sandbox.py shell`` passes VB_CAMERA_NETNS and VB_CAMERA_BOX (the
namespace and the box's address on the link) to its command for the same.

Commands inside the sandbox from a shell (scripts/run uses this):

    python3 tests/system/sandbox.py shell [--config FILE] [--set KEY=VALUE] -- CMD [ARGS...]

runs CMD in the working directory with the stubs on PATH; Ctrl-C ends it.
"""

import argparse
import ctypes
import glob
import io
import os
import shutil
import signal
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import race_reports  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
STUBS = os.path.join(HERE, "stubs")

SANDBOX_DIR = "/run/vb"
WORK_DIR = SANDBOX_DIR + "/work"
STUB_DIR = SANDBOX_DIR + "/stub"
STUB_LOG = SANDBOX_DIR + "/stub.log"
CPUFREQ_DIR = "/sys/devices/system/cpu/cpu0/cpufreq"

# Set in the environment of the re-executed program: the namespaces it left.
_OUTER_NS = "VB_SANDBOX_OUTER_NS"

DEFAULT_CONFIG = "control_enabled=1\n"

OUTSIDE_NETNS = "vb-outside"
BOX_VETH = "vb-box"
OUTSIDE_VETH = "vb-out"
BOX_VETH_ADDRESS = "10.99.0.1"
OUTSIDE_PEER_ADDRESS = "10.99.0.2"
OUTSIDE_ADDRESS = "198.51.100.7"

CAMERA_NETNS = "vb-camera"
CAMERA_LINK = "usb0"
CAMERA_VETH = "vb-cam"
CAMERA_LINK_BOX_ADDRESS = "10.98.0.1"
CAMERA_ADDRESS = "10.98.0.2"
CAMERA_INTERFACE_FILE = "camera-interface"

_namespace_ready = False

# Programs whose real copies are covered by a recording stub inside the
# namespace, in case a command line names them by absolute path. mount goes
# last: the sandbox needs the real one until then.
_COVERED = ["shutdown", "reboot", "killall", "umount", "mount"]


class SandboxError(Exception):
    pass


def _namespaces():
    return "%s %s" % (os.readlink("/proc/self/ns/mnt"), os.readlink("/proc/self/ns/net"))


def _fail_loudly(message):
    sys.stderr.write("sandbox: %s\n" % message)
    print("0 passed, 1 failed")
    sys.stdout.flush()
    sys.exit(1)


def _reexec_inside():
    """Replaces this process with itself inside fresh namespaces."""
    if os.geteuid() != 0:
        _fail_loudly("system tests need root: they run the daemon in private mount and network namespaces")
    unshare = shutil.which("unshare")
    if unshare is None:
        _fail_loudly("unshare (util-linux) is missing; run scripts/install-deps")
    os.environ[_OUTER_NS] = _namespaces()
    sys.stdout.flush()
    sys.stderr.flush()
    argv = [unshare, "--mount", "--net", "--propagation", "private", "--",
            sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    os.execv(unshare, argv)


def _run(argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)


def _set_up_namespace():
    outer = os.environ.get(_OUTER_NS, "")
    mnt, net = _namespaces().split()
    if not outer or mnt in outer or net in outer:
        _fail_loudly("not inside private namespaces; refusing to mount anything")
    mount = "/bin/mount"
    ip = _ip()
    for path, mode in (("/boot", "0755"), ("/run", "0755"), ("/dev/shm", "1777")):
        if not os.path.isdir(path):
            _fail_loudly("%s is missing on this machine; nothing to cover" % path)
        _run([mount, "-t", "tmpfs", "-o", "mode=" + mode, "vb-sandbox", path])
    # The governor file start-up writes: a private copy, made even where the
    # machine has no frequency scaling, so the write lands and can be read back.
    cpu0 = os.path.dirname(CPUFREQ_DIR)
    if os.path.isdir(CPUFREQ_DIR):
        _run([mount, "-t", "tmpfs", "vb-sandbox", CPUFREQ_DIR])
    elif os.path.isdir(cpu0):
        _run([mount, "-t", "tmpfs", "vb-sandbox", cpu0])
        os.makedirs(CPUFREQ_DIR)
    if os.path.isdir(CPUFREQ_DIR):
        with open(os.path.join(CPUFREQ_DIR, "scaling_governor"), "w") as f:
            f.write("ondemand\n")
    _run([ip, "link", "set", "lo", "up"])
    _make_camera_link()
    stub = os.path.join(STUBS, "killall")
    covered = set()
    for name in _COVERED:
        real = shutil.which(name, path="/usr/sbin:/usr/bin:/sbin:/bin")
        if real is None:
            continue
        real = os.path.realpath(real)
        if real in covered:
            continue
        covered.add(real)
        _run([mount, "--bind", stub, real])


# Per instrumented build: its CMake switch, the runtimes' option variables,
# where the system tests' reports go, and the name a failure gives.
_SANITIZERS = [
    ("VB_TSAN", ["TSAN_OPTIONS"], "tsan-reports", "ThreadSanitizer"),
    ("VB_SANITIZE", ["ASAN_OPTIONS", "UBSAN_OPTIONS"], "asan-reports",
     "AddressSanitizer or UndefinedBehaviorSanitizer"),
]


def _sanitizer(build_dir):
    """(option variables, report folder, name) of an instrumented build; None for others."""
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
            cache = {line.strip() for line in f}
    except FileNotFoundError:
        return None
    for switch, variables, folder, name in _SANITIZERS:
        if switch + ":BOOL=ON" in cache or switch + ":BOOL=TRUE" in cache:
            return variables, os.path.join(build_dir, folder, "system"), name
    return None


def _ip():
    return shutil.which("ip") or "/sbin/ip"


_LIBC = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    """Runs in each child before exec: it is killed when the sandbox program ends,
    however that happens, so no daemon outlives a test that was killed."""
    _LIBC.prctl(1, signal.SIGKILL, 0, 0, 0)  # PR_SET_PDEATHSIG


def _mount_tmpfs(path, mode="0755"):
    """A tmpfs over path, by the system call: the mount program is a stub here."""
    if _LIBC.mount(b"vb-sandbox", path.encode(), b"tmpfs", 0, ("mode=" + mode).encode()) != 0:
        raise SandboxError("cannot cover %s: %s" % (path, os.strerror(ctypes.get_errno())))


def _unmount(path):
    _LIBC.umount2(path.encode(), 2)  # MNT_DETACH


def _copy_stub(destination):
    shutil.copy(os.path.join(STUBS, "killall"), destination)  # with its mode


def _set_stub_marker(name, present):
    """A file in the stubs' folder that changes what a stub does while it exists."""
    marker = os.path.join(STUB_DIR, name)
    if present:
        open(marker, "w").close()
    elif os.path.exists(marker):
        os.unlink(marker)


def _clear_folder(path):
    for name in os.listdir(path):
        full = os.path.join(path, name)
        if os.path.isdir(full) and not os.path.islink(full):
            shutil.rmtree(full)
        else:
            os.unlink(full)


class WallClock:
    """A shifted wall clock for the programs started with it (libfaketime,
    Debian package libfaketime). The offset lives in a timestamp file that
    libfaketime reads on every wall-clock reading, so a step takes effect at
    once; CLOCK_MONOTONIC is left alone."""

    LIBRARY_PATTERN = "/usr/lib/*/faketime/libfaketimeMT.so.1"

    def __init__(self, path):
        found = sorted(glob.glob(self.LIBRARY_PATTERN))
        if not found:
            raise SandboxError("libfaketime is missing; run scripts/install-deps")
        self.library = found[0]
        self.path = path
        self.offset = 0
        self._write()

    def step(self, seconds):
        """Moves the wall clock by seconds (negative: back) from where it stands."""
        self.offset += int(seconds)
        self._write()

    def environment(self):
        return {
            "LD_PRELOAD": self.library,
            "FAKETIME_TIMESTAMP_FILE": self.path,
            "FAKETIME_NO_CACHE": "1",
            "DONT_FAKE_MONOTONIC": "1",
            "FAKETIME_DONT_FAKE_MONOTONIC": "1",
        }

    def _write(self):
        # Replaced whole, so a reader never sees half a line.
        temporary = self.path + ".new"
        with open(temporary, "w") as f:
            f.write("%+d\n" % self.offset)
        os.replace(temporary, self.path)


class Process:
    """A program started inside the sandbox, its output going to two files."""

    def __init__(self, name, popen, stdout_path, stderr_path):
        self.name = name
        self.popen = popen
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def returncode(self):
        return self.popen.poll()

    def stdout_text(self):
        return _read_text(self.stdout_path)

    def stderr_text(self):
        return _read_text(self.stderr_path)


def _read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except FileNotFoundError:
        return ""


class PeerHost:
    """A host in a network namespace of its own, joined to the sandbox by a
    veth pair: the outside host or the camera link's far end (module notes)."""

    def __init__(self, sb, netns, prefix, address, box_address, peer_address=None):
        self._sb = sb
        self._netns = netns
        self._prefix = prefix
        self.address = address
        self.box_address = box_address
        self.peer_address = peer_address

    def start(self, argv, name=None, wall_clock=None):
        """Any program, run inside the host's network namespace."""
        name = name or self._prefix + os.path.basename(argv[0])
        return self._sb.start([_ip(), "netns", "exec", self._netns] + list(argv), name=name, wall_clock=wall_clock)

    def start_tool(self, name, *args, wall_clock=None):
        return self.start([self._sb.binary(name)] + [str(a) for a in args], name=self._prefix + name,
                          wall_clock=wall_clock)

    def start_python(self, code, *args):
        return self.start([sys.executable, "-c", code] + [str(a) for a in args], name=self._prefix + "python")


def _make_veth_pair(netns, box_end, box_cidr, far_end, far_cidrs):
    """A network namespace joined to the sandbox by a veth pair, both ends up."""
    ip = _ip()
    inside = [ip, "-n", netns]
    _run([ip, "netns", "add", netns])
    _run([ip, "link", "add", box_end, "type", "veth", "peer", "name", far_end, "netns", netns])
    _run([ip, "addr", "add", box_cidr, "dev", box_end])
    _run([ip, "link", "set", box_end, "up"])
    _run(inside + ["link", "set", "lo", "up"])
    for cidr in far_cidrs:
        _run(inside + ["addr", "add", cidr, "dev", far_end])
    _run(inside + ["link", "set", far_end, "up"])
    return ip, inside


def _make_camera_link():
    _make_veth_pair(CAMERA_NETNS, CAMERA_LINK, CAMERA_LINK_BOX_ADDRESS + "/24", CAMERA_VETH,
                    [CAMERA_ADDRESS + "/24"])


def _make_outside_host():
    ip, inside = _make_veth_pair(OUTSIDE_NETNS, BOX_VETH, BOX_VETH_ADDRESS + "/30", OUTSIDE_VETH,
                                 [OUTSIDE_PEER_ADDRESS + "/30", OUTSIDE_ADDRESS + "/32"])
    # Its own datagrams leave from the routed address unless a program binds another.
    _run(inside + ["route", "replace", "10.99.0.0/30", "dev", OUTSIDE_VETH, "src", OUTSIDE_ADDRESS])
    _run([ip, "route", "add", "198.51.100.0/24", "via", OUTSIDE_PEER_ADDRESS, "dev", BOX_VETH])


def _remove_outside_host():
    # Deleting the namespace takes its end of the pair, and with it ours; the
    # second call makes sure and fails harmlessly when there is nothing left.
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    if os.path.exists("/run/netns/" + OUTSIDE_NETNS):
        subprocess.run([_ip(), "netns", "del", OUTSIDE_NETNS], **quiet)
    subprocess.run([_ip(), "link", "del", BOX_VETH], **quiet)


class Sandbox:
    def __init__(self, build_dir):
        self.build_dir = os.path.abspath(build_dir)
        self.processes = []
        self._outside = None
        self._covered = []
        self._camera_link = PeerHost(self, CAMERA_NETNS, "camera-", CAMERA_ADDRESS, CAMERA_LINK_BOX_ADDRESS)
        self._count = 0
        self.current_test = "shell"
        sanitizer = _sanitizer(self.build_dir)
        self.report_variables, self.race_reports, self.sanitizer_name = sanitizer or ([], None, "")
        self._seen_reports = set()
        if self.race_reports:
            os.makedirs(self.race_reports, exist_ok=True)
            self._seen_reports = set(os.listdir(self.race_reports))
        self.env = dict(os.environ)
        self.env["PATH"] = STUBS + os.pathsep + self.env.get("PATH", "/usr/bin:/bin")
        self.env["VB_STUB_LOG"] = STUB_LOG
        self.env["VB_STUB_DIR"] = STUB_DIR
        self.env.pop(_OUTER_NS, None)
        os.makedirs(WORK_DIR + "/scripts", exist_ok=True)
        os.makedirs(STUB_DIR, exist_ok=True)
        os.makedirs(SANDBOX_DIR + "/logs", exist_ok=True)
        for script in ("hdmi-change.sh", "hdmi-mode.sh"):
            _copy_stub(os.path.join(WORK_DIR, "scripts", script))
        self.reset()

    # State between tests.
    def reset(self, config=DEFAULT_CONFIG):
        self.stop_all()
        _remove_outside_host()
        self._outside = None
        for path in reversed(self._covered):
            _unmount(path)
        self._covered = []
        for folder in ("/dev/shm", "/boot", STUB_DIR):
            _clear_folder(folder)
        for leftover in ("/run/vantagebridge.conf", "/run/wlan.update", os.path.join(WORK_DIR, CAMERA_INTERFACE_FILE)):
            if os.path.exists(leftover):
                os.unlink(leftover)
        open(STUB_LOG, "w").close()
        if config is None:
            self.remove_config()
        else:
            self.write_config(config)

    def write_config(self, text):
        with open(os.path.join(WORK_DIR, "vantagebridge.conf"), "w") as f:
            f.write(text)

    def remove_config(self):
        path = os.path.join(WORK_DIR, "vantagebridge.conf")
        if os.path.exists(path):
            os.unlink(path)

    # Processes.
    def start(self, argv, name=None, cwd=WORK_DIR, wall_clock=None, stderr=None, extra_env=None):
        """stderr: a file descriptor for the program's standard error instead
        of the log file (stderr_text then reads nothing); extra_env: more
        environment variables."""
        self._count += 1
        name = name or os.path.basename(argv[0])
        base = os.path.join(SANDBOX_DIR, "logs", "%d-%s" % (self._count, name))
        out_path, err_path = base + ".out", base + ".err"
        env = dict(self.env, **(extra_env or {}))
        if wall_clock is not None:
            env.update(wall_clock.environment())
            if "ASAN_OPTIONS" in self.report_variables:
                # libfaketime comes before AddressSanitizer's runtime, which
                # then still intercepts what it must (faketime defines no
                # allocator); with the runtime first, the daemon's clock-driven
                # threads stall under the two together.
                env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + " verify_asan_link_order=0").strip()
        if self.race_reports:
            # Appended, so it wins over a log_path the caller's options name.
            prefix = "%s-%s-%d-%s" % (os.path.splitext(os.path.basename(sys.argv[0]))[0], self.current_test,
                                      self._count, os.path.basename(name))
            env = dict(env)
            for variable in self.report_variables:
                env[variable] = (env.get(variable, "") + " log_path=" + os.path.join(self.race_reports, prefix)).strip()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err if stderr is None else stderr,
                                     preexec_fn=_die_with_parent)
        proc = Process(name, popen, out_path, err_path)
        self.processes.append(proc)
        return proc

    def new_race_reports(self):
        """ThreadSanitizer report files written since the last call (none for other builds)."""
        if not self.race_reports:
            return []
        names = set(os.listdir(self.race_reports)) - self._seen_reports
        self._seen_reports |= names
        return sorted(os.path.join(self.race_reports, n) for n in names)

    def binary(self, name):
        path = os.path.join(self.build_dir, name)
        if not os.access(path, os.X_OK):
            raise SandboxError("%s is not built" % path)
        return path

    def outside_host(self):
        if self._outside is None:
            _make_outside_host()
            self._outside = PeerHost(self, OUTSIDE_NETNS, "outside-", OUTSIDE_ADDRESS, BOX_VETH_ADDRESS,
                                     OUTSIDE_PEER_ADDRESS)
        return self._outside

    def private_folder(self, path, mode="0755"):
        """Covers an existing folder of the machine (/etc/avahi/services,
        /var/log/journal) with an empty tmpfs until the test ends: programs
        started here see only what the test puts there, and nothing they
        write reaches the machine."""
        if not os.path.isdir(path):
            raise SandboxError("%s is missing on this machine" % path)
        _mount_tmpfs(path, mode)
        self._covered.append(path)
        return path

    def camera_link(self):
        return self._camera_link

    def start_daemon(self, wall_clock=None):
        return self.start([self.binary("vantagebridge")], wall_clock=wall_clock)

    def start_tool(self, name, *args, wall_clock=None):
        args = [str(a) for a in args]
        if name == "vb-camera":
            if "--box" not in args:
                args = ["--box", CAMERA_LINK_BOX_ADDRESS + ":5001"] + args
            return self._camera_link.start([self.binary(name)] + args, name=name, wall_clock=wall_clock)
        return self.start([self.binary(name)] + args, wall_clock=wall_clock)

    def wall_clock(self):
        """A WallClock at the true time, to start programs with."""
        self._count += 1
        return WallClock(os.path.join(SANDBOX_DIR, "wall-clock-%d" % self._count))

    def stop(self, proc, grace=3.0):
        if proc.running():
            proc.popen.send_signal(signal.SIGTERM)
            try:
                proc.popen.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                proc.popen.kill()
                proc.popen.wait()
        if proc in self.processes:
            self.processes.remove(proc)

    def stop_all(self):
        for proc in list(reversed(self.processes)):
            self.stop(proc)

    # Observation.
    def wait_for(self, proc, text, timeout=20.0, stream="stderr"):
        """True once text shows in the process's output; False on time-out or exit."""
        read = proc.stderr_text if stream == "stderr" else proc.stdout_text
        deadline = time.monotonic() + timeout
        while True:
            if text in read():
                return True
            if not proc.running():
                return text in read()
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)

    def wait_until(self, predicate, timeout=20.0):
        deadline = time.monotonic() + timeout
        while not predicate():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def read_hud(self, offset=0, length=2728):
        with open("/dev/shm/hud_mem", "rb") as f:
            f.seek(offset)
            return f.read(length)

    def write_hud(self, offset, data):
        """Writes bytes into /dev/shm/hud_mem, as a sibling process would."""
        with open("/dev/shm/hud_mem", "r+b") as f:
            f.seek(offset)
            f.write(bytes(data))

    def shm_size(self, name):
        try:
            return os.stat(os.path.join("/dev/shm", name.lstrip("/"))).st_size
        except FileNotFoundError:
            return None

    def stub_log(self):
        with open(STUB_LOG) as f:
            return [line.rstrip("\n") for line in f]

    def set_program_running(self, name, running):
        _set_stub_marker("pidof." + name, running)

    def set_program_hangs(self, name, hangs):
        """Whether the stub of name (umount, iwlist) hangs when run instead of returning."""
        _set_stub_marker("hang." + name, hangs)

    def set_program_fails(self, name, fails):
        """Whether the stub of name (mount, for "mount /boot") fails when run."""
        _set_stub_marker("fail." + name, fails)

    def set_scan_output(self, text):
        with open(os.path.join(STUB_DIR, "iwlist.out"), "w") as f:
            f.write(text)

    @staticmethod
    def expect(condition, message):
        if not condition:
            raise AssertionError(message)


def set_config_key(text, key, value):
    """The configuration text with key set to value: its line replaced, or one added."""
    lines = text.splitlines(keepends=True)
    ending = "\r\n" if lines and lines[0].endswith("\r\n") else "\n"
    for i, line in enumerate(lines):
        name = line.split("=", 1)[0].split(":", 1)[0].strip()
        if name == key and not line[:1].isspace():
            lines[i] = "%s=%s%s" % (key, value, line[len(line.rstrip("\r\n")):] or ending)
            return "".join(lines)
    if lines and not lines[-1].endswith("\n"):
        lines[-1] += ending
    return "".join(lines) + "%s=%s%s" % (key, value, ending)


def enter(build_dir):
    """Call first: re-executes the program inside the sandbox, then returns a Sandbox."""
    global _namespace_ready
    if not os.environ.get(_OUTER_NS):
        _reexec_inside()
    if not _namespace_ready:
        _set_up_namespace()
        _namespace_ready = True
    return Sandbox(build_dir)


def _default_build():
    return os.path.join(REPO, "build")


def main(tests, argv=None):
    """Runs each test function (taking the Sandbox) and prints the closing count."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=_default_build())
    parser.add_argument("names", nargs="*", help="run only these tests")
    args = parser.parse_args(argv)
    sb = enter(args.build)
    passed = failed = 0
    try:
        for test in tests:
            if args.names and test.__name__ not in args.names:
                continue
            if run_test(sb, test):
                passed += 1
            else:
                failed += 1
            sys.stdout.flush()
    finally:
        sb.stop_all()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


def run_test(sb, test):
    """Runs one test from a fresh state, prints PASS or FAIL with why; True when it passed."""
    sb.reset()
    sb.current_test = test.__name__
    try:
        test(sb)
    except Exception as e:  # any failure of one test must not stop the others
        print("FAIL %s: %s" % (test.__name__, e))
        if not isinstance(e, (AssertionError, SandboxError)):
            traceback.print_exc()
        for proc in sb.processes:
            print("  --- %s stderr (last lines):" % proc.name)
            for line in proc.stderr_text().splitlines()[-15:]:
                print("  " + line)
        sb.stop_all()
        _print_race_reports(sb.new_race_reports())
        return False
    finally:
        sb.stop_all()
    # Programs report races up to their last moment: judged once they ended.
    reports = sb.new_race_reports()
    if reports:
        print("FAIL %s: %s reported" % (test.__name__, sb.sanitizer_name))
        _print_race_reports(reports)
        return False
    print("PASS %s" % test.__name__)
    return True


def _print_race_reports(files):
    if not files:
        return
    groups, odd = race_reports.collect(files)
    text = io.StringIO()
    race_reports.describe(groups, odd, text)
    for line in text.getvalue().splitlines():
        print("  " + line)


def _shell(argv):
    parser = argparse.ArgumentParser(prog="sandbox.py shell")
    parser.add_argument("--build", default=_default_build())
    parser.add_argument("--config", help="file copied to the working directory's vantagebridge.conf")
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE",
                        help="set one key in that configuration (repeatable)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = [c for c in args.command]
    if command and command[0] == "--":
        command = command[1:]
    if not command:
        parser.error("no command given")
    # Paths given relative to where the caller stands.
    if os.sep in command[0]:
        command[0] = os.path.abspath(command[0])
    config = open(args.config, newline="").read() if args.config else DEFAULT_CONFIG
    for setting in args.set:
        key, _, value = setting.partition("=")
        config = set_config_key(config, key.strip(), value)
    sb = enter(args.build)
    sb.reset(config)
    sys.stderr.write("sandbox: working directory %s, stub log %s\n" % (WORK_DIR, STUB_LOG))
    env = dict(sb.env, VB_CAMERA_NETNS=CAMERA_NETNS, VB_CAMERA_BOX=CAMERA_LINK_BOX_ADDRESS)
    proc = subprocess.Popen(command, cwd=WORK_DIR, env=env, preexec_fn=_die_with_parent)
    try:
        code = proc.wait()
    except KeyboardInterrupt:
        # A terminal's Ctrl-C reaches the command too; pass it on in case it came another way.
        if proc.poll() is None:
            proc.send_signal(signal.SIGINT)
        try:
            code = proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            proc.kill()
            code = proc.wait()
    if os.path.getsize(STUB_LOG):
        sys.stderr.write("sandbox: commands recorded by the stubs:\n")
        for line in sb.stub_log():
            sys.stderr.write("  " + line + "\n")
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "shell":
        _shell(sys.argv[2:])
    else:
        sys.stderr.write("usage: python3 sandbox.py shell [--build DIR] [--config FILE] -- CMD [ARGS...]\n")
        sys.exit(2)
