"""Checks the built Debian package: what it installs and where, its
dependencies, lintian's verdict, both units under systemd-analyze verify and
enabled by the maintainer scripts, that the manual pages render, and that the
installed vb-web finds the installed page. Run after scripts/package:

    python3 tests/package/check_package.py [build-package [ARCH]]

A package of another architecture (scripts/package --arch) is checked the
same way; its vb-web runs under qemu-user.

Prints "PASS name" or "FAIL name: why" per check and the closing count."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNIT = "/lib/systemd/system/vantagebridge.service"
WEB_UNIT = "/lib/systemd/system/vb-web.service"
STREAM_UNIT = "/lib/systemd/system/vb-stream.service"
JANUS_UNIT = "/lib/systemd/system/vb-janus.service"
JANUS_CONFIG = "usr/share/vantagebridge/janus"
WWW = "usr/share/vantagebridge/www"
WEB_EXPOSURE_LIMIT = 2.5
# Lines each unit must keep: what runs, and how it is supervised.
UNIT_LINES = {
    UNIT: ["Type=notify", "WatchdogSec=", "RestartPreventExitStatus=100", "Restart=always",
           "ExecStartPre=/usr/libexec/vantagebridge/vantagebridge-prepare /run/vantagebridge",
           "ExecStart=/usr/sbin/vantagebridge"],
    WEB_UNIT: ["ExecStart=/usr/bin/vb-web\n", "Restart=on-failure", "Wants=vantagebridge.service",
               "After=vantagebridge.service", "CapabilityBoundingSet=\n", "NoNewPrivileges=yes",
               "ProtectSystem=strict", "PrivateDevices=yes", "WantedBy=multi-user.target"],
    STREAM_UNIT: ["ExecStart=/usr/bin/vb-stream $VB_STREAM_OPTIONS", "Restart=on-failure", "DynamicUser=yes",
                  "RuntimeDirectory=vb-stream", "CapabilityBoundingSet=\n", "WantedBy=multi-user.target"],
    JANUS_UNIT: ["ExecStart=/usr/bin/janus --configs-folder=/" + JANUS_CONFIG + " ", "ConditionPathExists=/usr/bin/janus",
                 "DynamicUser=yes", "CapabilityBoundingSet=\n", "WantedBy=multi-user.target"],
}
# systemd's own scoring of each unit's hardening (0 to 10, lower is better).
EXPOSURE_LIMITS = {WEB_UNIT: WEB_EXPOSURE_LIMIT, STREAM_UNIT: 2.0, JANUS_UNIT: 2.0}

# Paths the package must install (a page or document may be compressed).
EXPECTED = [
    "usr/sbin/vantagebridge",
    "usr/bin/vb-hud",
    "usr/bin/vb-viewer",
    "usr/bin/vb-camera",
    "usr/bin/vb-rc",
    "usr/bin/vb-web",
    "usr/bin/vb-stream",
    "usr/libexec/vantagebridge/vantagebridge-prepare",
    "usr/libexec/vantagebridge/vantagebridge-after-exit",
    "usr/share/vantagebridge/vantagebridge.conf",
    "etc/avahi/services/vb-web.service",
    "etc/avahi/services/vantagebridge-viewers.service",
    UNIT.lstrip("/"),
    WEB_UNIT.lstrip("/"),
    STREAM_UNIT.lstrip("/"),
    JANUS_UNIT.lstrip("/"),
    JANUS_CONFIG + "/janus.jcfg",
    JANUS_CONFIG + "/janus.plugin.streaming.jcfg",
    JANUS_CONFIG + "/janus.transport.http.jcfg",
    WWW + "/index.html",
    "usr/share/man/man8/vantagebridge.8",
    "usr/share/man/man5/vantagebridge.conf.5",
    "usr/share/man/man1/vb-hud.1",
    "usr/share/man/man1/vb-viewer.1",
    "usr/share/man/man1/vb-camera.1",
    "usr/share/man/man1/vb-rc.1",
    "usr/share/man/man1/vb-web.1",
    "usr/share/man/man1/vb-stream.1",
    "usr/share/doc/vantagebridge/copyright",
    "usr/share/doc/vantagebridge/README.md",
    "usr/share/doc/vantagebridge/viewer-protocol.md",
    "usr/share/doc/vantagebridge/operating.md",
]
EXECUTABLE = [p for p in EXPECTED if "/bin/" in p or "/sbin/" in p or "/libexec/" in p]
# Libraries the daemon and vb-hud link; the versions come from the shlibs.
DEPENDS_ON = ["libcjson1", "libinih1", "libcurl4", "libsystemd0", "libncursesw6", "zlib1g"]


# How a program of each architecture runs on this machine.
EMULATORS = {"armhf": ["qemu-arm"], "arm64": ["qemu-aarch64"]}


def host_architecture():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()


class Checks:
    def __init__(self, deb, root, arch=None):
        self.deb = deb
        self.root = root
        self.runner = [] if arch in (None, host_architecture()) else EMULATORS[arch]
        self.passed = self.failed = 0

    def run(self, check):
        try:
            check(self)
        except AssertionError as e:
            self.failed += 1
            print("FAIL %s: %s" % (check.__name__, e))
        else:
            self.passed += 1
            print("PASS %s" % check.__name__)
        sys.stdout.flush()

    def path(self, relative):
        for candidate in (relative, relative + ".gz"):
            full = os.path.join(self.root, candidate)
            if os.path.exists(full):
                return full
        return None


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, **kwargs)


def check_contents(c):
    missing = [p for p in EXPECTED if c.path(p) is None]
    assert not missing, "missing: %s" % missing
    not_executable = [p for p in EXECUTABLE if not os.access(c.path(p), os.X_OK)]
    assert not not_executable, "not executable: %s" % not_executable
    with open(os.path.join(REPO, "vantagebridge.conf"), "rb") as a, \
            open(c.path("usr/share/vantagebridge/vantagebridge.conf"), "rb") as b:
        assert a.read() == b.read(), "the packaged default differs from the repository's vantagebridge.conf"
    stray = [p for p in run(["dpkg-deb", "-c", c.deb]).stdout.splitlines() if "/usr/local/" in p or "/build/" in p]
    assert not stray, "stray paths: %s" % stray
    source = os.path.join(REPO, "tools/vb-web/www")
    differ = [name for name in files_below(source) | files_below(os.path.join(c.root, WWW))
              if not same_file(os.path.join(source, name), os.path.join(c.root, WWW, name))]
    assert not differ, "the packaged page differs from tools/vb-web/www: %s" % sorted(differ)
    janus = os.path.join(REPO, "service/janus")
    differ = [n for n in files_below(janus) | files_below(os.path.join(c.root, JANUS_CONFIG))
              if not same_file(os.path.join(janus, n), os.path.join(c.root, JANUS_CONFIG, n))]
    assert not differ, "the packaged Janus configuration differs from service/janus: %s" % sorted(differ)
    foreign = [p for p in run(["dpkg-deb", "-c", c.deb]).stdout.splitlines() if "/etc/janus" in p]
    assert not foreign, "the package touches the janus package's files: %s" % foreign


def files_below(folder):
    return {os.path.relpath(os.path.join(d, f), folder) for d, _, names in os.walk(folder) for f in names}


def same_file(a, b):
    try:
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    except FileNotFoundError:
        return False


def check_dependencies(c):
    depends = run(["dpkg-deb", "-f", c.deb, "Depends"]).stdout
    missing = [lib for lib in DEPENDS_ON if lib not in depends]
    assert not missing, "Depends %r lacks %s" % (depends.strip(), missing)
    assert "(>=" in depends, "no versions from the shlibs: %r" % depends
    recommends = run(["dpkg-deb", "-f", c.deb, "Recommends"]).stdout
    assert "janus" in recommends, "Recommends %r lacks janus (the live video's WebRTC server)" % recommends.strip()


def check_lintian(c):
    changes = glob.glob(os.path.join(os.path.dirname(c.deb), "*.changes"))
    target = changes[0] if changes else c.deb
    result = run(["lintian", "-I", "--pedantic", target])
    print("  lintian %s:" % os.path.basename(target))
    for line in (result.stdout + result.stderr).splitlines():
        if not line.startswith("running with root"):
            print("    " + line)
    bad = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    assert not bad, "%d errors or warnings" % len(bad)
    assert result.returncode == 0, "lintian exit %d" % result.returncode


def check_units_verify(c):
    # systemd's own units beside the package's, so the dependencies resolve;
    # the manual pages named in Documentation= come from the package.
    units = os.path.join(c.root, "lib/systemd/system")
    for name in os.listdir("/lib/systemd/system"):
        source = os.path.join("/lib/systemd/system", name)
        if not os.path.exists(os.path.join(units, name)) and os.path.isfile(source):
            shutil.copy(source, units)
    # The program another package brings (Janus, recommended), as installed here.
    if os.path.exists("/usr/bin/janus"):
        shutil.copy("/usr/bin/janus", os.path.join(c.root, "usr/bin/janus"))
    env = dict(os.environ, MANPATH=os.path.join(c.root, "usr/share/man"))
    problems = []
    for unit, lines in UNIT_LINES.items():
        result = run(["systemd-analyze", "verify", "--root=" + c.root, unit], env=env)
        said = (result.stdout + result.stderr).strip()
        if result.returncode != 0 or said:
            problems.append("%s: exit %d: %s" % (unit, result.returncode, said))
        with open(os.path.join(c.root, unit.lstrip("/"))) as f:
            text = f.read()
        problems += ["%s lacks %r" % (unit, line) for line in lines if line not in text]
    assert not problems, "; ".join(problems)


def check_web_unit_exposure(c):
    # A lost line of a unit's hardening shows here. The daemon's duties keep
    # its own unit high.
    problems = []
    for unit, limit in EXPOSURE_LIMITS.items():
        result = run(["systemd-analyze", "security", "--offline=true", "--root=" + c.root,
                      "--threshold=%d" % round(limit * 10), os.path.basename(unit)])
        level = [line for line in result.stdout.splitlines() if "Overall exposure level" in line]
        print("  %s: %s" % (os.path.basename(unit), level[0].strip() if level else "no exposure level"))
        if result.returncode != 0:
            problems.append("%s above %.1f: %s" % (unit, limit, level or result.stderr.strip()))
    assert not problems, "; ".join(problems)


def check_units_enabled(c):
    # dh_installsystemd's snippets: each unit enabled at installation and
    # started, restarted on upgrade, stopped on removal.
    control = tempfile.mkdtemp(prefix="vb-control-")
    try:
        subprocess.run(["dpkg-deb", "-e", c.deb, control], check=True)
        scripts = {}
        for name in ("postinst", "prerm", "postrm"):
            path = os.path.join(control, name)
            if os.path.exists(path):
                with open(path) as f:
                    scripts[name] = f.read()
            else:
                scripts[name] = ""
    finally:
        shutil.rmtree(control)
    missing = []
    for unit in ("vantagebridge.service", "vb-web.service", "vb-stream.service", "vb-janus.service"):
        for script, needle in (("postinst", "deb-systemd-helper enable '%s'" % unit),
                               ("postinst", "deb-systemd-invoke $_dh_action '%s'" % unit),
                               ("prerm", "deb-systemd-invoke stop '%s'" % unit),
                               ("postrm", "deb-systemd-helper purge '%s'" % unit)):
            if needle not in scripts[script]:
                missing.append("%s: %s" % (script, needle))
    assert not missing, "maintainer scripts lack %s" % missing


def check_installed_web_finds_its_page(c):
    # Run from the unpacked tree, the binary must name the unpacked page as
    # its default: it finds its files by where it lies, not by a build path.
    binary = os.path.join(c.root, "usr/bin/vb-web")
    result = run(c.runner + [binary, "--help"])
    expected = os.path.realpath(os.path.join(c.root, WWW))
    assert result.returncode == 0, "exit %d: %s" % (result.returncode, result.stderr)
    assert "(default %s)" % expected in result.stdout, "default page folder: %r" % result.stdout


def check_manual_pages_render(c):
    problems = []
    for page in glob.glob(os.path.join(c.root, "usr/share/man/man*/*")):
        result = run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=dict(os.environ, MANWIDTH="80"))
        if result.returncode != 0 or result.stderr.strip() or len(result.stdout.splitlines()) < 10:
            problems.append("%s: %s" % (os.path.basename(page), result.stderr.strip()[:200]))
    assert not problems, "; ".join(problems)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build-package")
    arch = sys.argv[2] if len(sys.argv) > 2 else host_architecture()
    debs = [d for d in glob.glob(os.path.join(out, "vantagebridge_*_%s.deb" % arch))]
    if len(debs) != 1:
        print("FAIL package: expected one vantagebridge_*.deb in %s, found %r" % (out, debs))
        print("0 passed, 1 failed")
        sys.exit(1)
    root = tempfile.mkdtemp(prefix="vb-package-")
    try:
        subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
        c = Checks(debs[0], root, arch)
        for check in (check_contents, check_dependencies, check_lintian, check_units_verify,
                      check_web_unit_exposure, check_units_enabled,
                      check_installed_web_finds_its_page, check_manual_pages_render):
            c.run(check)
    finally:
        shutil.rmtree(root)
    print("%d passed, %d failed" % (c.passed, c.failed))
    sys.exit(1 if c.failed else 0)


if __name__ == "__main__":
    main()
