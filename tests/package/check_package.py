"""Checks the built Debian package: what it installs and where, its
dependencies, lintian's verdict, the unit under systemd-analyze verify, and
that the manual pages render. Run after scripts/package:

    python3 tests/package/check_package.py [build-package]

Prints "PASS name" or "FAIL name: why" per check and the closing count."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNIT = "/lib/systemd/system/vantagebridge.service"

# Paths the package must install (a page or document may be compressed).
EXPECTED = [
    "usr/sbin/vantagebridge",
    "usr/bin/vb-hud",
    "usr/bin/vb-viewer",
    "usr/bin/vb-camera",
    "usr/bin/vb-rc",
    "usr/libexec/vantagebridge/vantagebridge-prepare",
    "usr/libexec/vantagebridge/vantagebridge-after-exit",
    "usr/share/vantagebridge/vantagebridge.conf",
    UNIT.lstrip("/"),
    "usr/share/man/man8/vantagebridge.8",
    "usr/share/man/man5/vantagebridge.conf.5",
    "usr/share/man/man1/vb-hud.1",
    "usr/share/man/man1/vb-viewer.1",
    "usr/share/man/man1/vb-camera.1",
    "usr/share/man/man1/vb-rc.1",
    "usr/share/doc/vantagebridge/copyright",
    "usr/share/doc/vantagebridge/README.md",
    "usr/share/doc/vantagebridge/viewer-protocol.md",
    "usr/share/doc/vantagebridge/operating.md",
]
EXECUTABLE = [p for p in EXPECTED if "/bin/" in p or "/sbin/" in p or "/libexec/" in p]
# Libraries the daemon and vb-hud link; the versions come from the shlibs.
DEPENDS_ON = ["libcjson1", "libinih1", "libcurl4", "libsystemd0", "libncursesw6"]


class Checks:
    def __init__(self, deb, root):
        self.deb = deb
        self.root = root
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
    with open(os.path.join(REPO, "vantagebridge.conf"), "rb") as a, open(c.path(EXPECTED[7]), "rb") as b:
        assert a.read() == b.read(), "the packaged default differs from the repository's vantagebridge.conf"
    stray = [p for p in run(["dpkg-deb", "-c", c.deb]).stdout.splitlines() if "/usr/local/" in p or "/build/" in p]
    assert not stray, "stray paths: %s" % stray


def check_dependencies(c):
    depends = run(["dpkg-deb", "-f", c.deb, "Depends"]).stdout
    missing = [lib for lib in DEPENDS_ON if lib not in depends]
    assert not missing, "Depends %r lacks %s" % (depends.strip(), missing)
    assert "(>=" in depends, "no versions from the shlibs: %r" % depends


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


def check_unit_verifies(c):
    # systemd's own units beside the package's, so the dependencies resolve;
    # the manual pages named in Documentation= come from the package.
    units = os.path.join(c.root, "lib/systemd/system")
    for name in os.listdir("/lib/systemd/system"):
        source = os.path.join("/lib/systemd/system", name)
        if not os.path.exists(os.path.join(units, name)) and os.path.isfile(source):
            shutil.copy(source, units)
    env = dict(os.environ, MANPATH=os.path.join(c.root, "usr/share/man"))
    result = run(["systemd-analyze", "verify", "--root=" + c.root, UNIT], env=env)
    said = (result.stdout + result.stderr).strip()
    assert result.returncode == 0 and not said, "exit %d: %s" % (result.returncode, said)
    with open(os.path.join(c.root, UNIT.lstrip("/"))) as f:
        unit = f.read()
    for line in ("Type=notify", "WatchdogSec=", "RestartPreventExitStatus=100", "Restart=always",
                 "ExecStartPre=/usr/libexec/vantagebridge/vantagebridge-prepare /run/vantagebridge",
                 "ExecStart=/usr/sbin/vantagebridge"):
        assert line in unit, "unit lacks %r" % line


def check_manual_pages_render(c):
    problems = []
    for page in glob.glob(os.path.join(c.root, "usr/share/man/man*/*")):
        result = run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=dict(os.environ, MANWIDTH="80"))
        if result.returncode != 0 or result.stderr.strip() or len(result.stdout.splitlines()) < 10:
            problems.append("%s: %s" % (os.path.basename(page), result.stderr.strip()[:200]))
    assert not problems, "; ".join(problems)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build-package")
    debs = [d for d in glob.glob(os.path.join(out, "vantagebridge_*.deb"))]
    if len(debs) != 1:
        print("FAIL package: expected one vantagebridge_*.deb in %s, found %r" % (out, debs))
        print("0 passed, 1 failed")
        sys.exit(1)
    root = tempfile.mkdtemp(prefix="vb-package-")
    try:
        subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
        c = Checks(debs[0], root)
        for check in (check_contents, check_dependencies, check_lintian, check_unit_verifies,
                      check_manual_pages_render):
            c.run(check)
    finally:
        shutil.rmtree(root)
    print("%d passed, %d failed" % (c.passed, c.failed))
    sys.exit(1 if c.failed else 0)


if __name__ == "__main__":
    main()
