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


def seconds(value):
    """A systemd time span such as 90s, 100ms or 60 (seconds)."""
    for suffix, factor in (("ms", 0.001), ("min", 60), ("s", 1)):
        if value.endswith(suffix):
            return float(value[:-len(suffix)]) * factor
    return float(value)


def keeps_the_box_up(unit):
    """Why the unit could leave the box down under a real systemd, or None."""
    keys = dict(line.split("=", 1) for line in unit.splitlines() if "=" in line and not line.startswith("#"))
    interval = seconds(keys.get("StartLimitIntervalSec", "10"))
    burst = int(keys.get("StartLimitBurst", "5"))
    # Restarts the daemon asks for (exit 2 and 3) follow each other RestartSec apart at most.
    if interval > 0 and burst * seconds(keys.get("RestartSec", "0.1")) <= interval:
        return "%d restarts within %gs stop the unit" % (burst, interval)
    # The daemon runs one shell command (30 s deadline) before READY=1.
    if seconds(keys.get("TimeoutStartSec", "90")) <= 30 + 15:
        return "TimeoutStartSec=%s does not outlast a pre-READY shell command" % keys["TimeoutStartSec"]
    return None


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
    results.append(("unit_keeps_the_box_up", keeps_the_box_up(unit)))
    failed = 0
    for name, why in results:
        print("PASS %s" % name if why is None else "FAIL %s: %s" % (name, why))
        failed += why is not None
    print("%d passed, %d failed" % (len(results) - failed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
