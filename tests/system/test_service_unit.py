"""The systemd units (the daemon's and vb-web's) under systemd-analyze verify,
laid out as the package installs them but pointing at this build: the
programs and the service's steps must exist, every key must be known, every
dependency must resolve. Needs no sandbox: nothing is started."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
UNIT = "/lib/systemd/system/vantagebridge.service"
WEB_UNIT = "/lib/systemd/system/vb-web.service"


def make_root(build_dir, unit_text):
    """A root with systemd's own units, both units, and the files they name."""
    root = tempfile.mkdtemp(prefix="vb-unit-")
    units = os.path.join(root, "lib/systemd/system")
    shutil.copytree("/lib/systemd/system", units, symlinks=True)
    with open(os.path.join(root, UNIT.lstrip("/")), "w") as f:
        f.write(unit_text)
    shutil.copy(os.path.join(REPO, "debian/vantagebridge.vb-web.service"), os.path.join(root, WEB_UNIT.lstrip("/")))
    places = {"usr/sbin/vantagebridge": os.path.join(build_dir, "vantagebridge"),
              "usr/bin/vb-web": os.path.join(build_dir, "vb-web"),
              "usr/libexec/vantagebridge/vantagebridge-prepare": os.path.join(REPO, "service/vantagebridge-prepare"),
              "usr/libexec/vantagebridge/vantagebridge-after-exit":
                  os.path.join(REPO, "service/vantagebridge-after-exit")}
    for place, source in places.items():
        os.makedirs(os.path.dirname(os.path.join(root, place)), exist_ok=True)
        shutil.copy(source, os.path.join(root, place))
    return root


def verify(build_dir, unit_text, unit=UNIT):
    root = make_root(build_dir, unit_text)
    try:
        result = subprocess.run(["systemd-analyze", "verify", "--man=no", "--root=" + root, unit],
                                capture_output=True, text=True)
        return result.returncode, (result.stdout + result.stderr).strip()
    finally:
        shutil.rmtree(root)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    args = parser.parse_args()
    with open(os.path.join(REPO, "debian/vantagebridge.service")) as f:
        unit = f.read()
    results = []
    if shutil.which("systemd-analyze") is None:
        results.append(("systemd-analyze", "missing: run scripts/install-deps"))
    else:
        code, said = verify(args.build, unit)
        results.append(("unit_verifies", None if code == 0 and not said else "exit %d: %s" % (code, said)))
        code, said = verify(args.build, unit, WEB_UNIT)
        results.append(("web_unit_verifies", None if code == 0 and not said else "exit %d: %s" % (code, said)))
        # The check itself must catch a fault: a misspelt key and a missing program.
        broken = unit.replace("Restart=always", "Restrat=always").replace("/usr/sbin/vantagebridge",
                                                                          "/usr/sbin/vantagebridge-gone")
        code, said = verify(args.build, broken)
        caught = "Restrat" in said and "vantagebridge-gone" in said
        results.append(("broken_unit_is_caught", None if caught else "not reported: %r" % said))
    failed = 0
    for name, why in results:
        print("PASS %s" % name if why is None else "FAIL %s: %s" % (name, why))
        failed += why is not None
    print("%d passed, %d failed" % (len(results) - failed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
