"""vb-web as it is installed, in the sandbox: the binary finds the page's files
from where it lies (the build tree's binary the source tree, an installed one
the installed copy, laid out by the build's own install rules), and run as
the packaged unit runs it (root without capabilities) it still puts commands
through the daemon's record, which is closed to any other user. Its Avahi
files, installed the same way, announce the page and the viewer port by the
box's name to an avahi-daemon of the sandbox's own."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

PORT = 8080
SOURCE_WWW = os.path.join(sandbox.REPO, "tools", "vb-web", "www")
MARK = b"<!-- the installed copy -->\n"


def install_web(sb):
    """vb-web and its page under a fresh prefix, by the build's install rules."""
    prefix = tempfile.mkdtemp(prefix="vb-install-", dir="/run")
    os.chmod(prefix, 0o755)  # for the unprivileged case below
    result = subprocess.run(["cmake", "--install", sb.build_dir, "--prefix", prefix + "/usr", "--component", "web"],
                            capture_output=True, text=True)
    sb.expect(result.returncode == 0, "cmake --install: %s" % (result.stdout + result.stderr))
    return prefix


def start_web(sb, argv):
    web = sb.start(argv + ["--port", str(PORT)], name="vb-web")
    sb.expect(sb.wait_for(web, "vb-web: serving", timeout=15), "vb-web did not start: " + web.stderr_text())
    return web


def test_page_found_from_where_the_binary_lies(sb):
    prefix = install_web(sb)
    try:
        installed_www = os.path.join(prefix, "usr/share/vantagebridge/www")
        with open(os.path.join(installed_www, "index.html"), "ab") as f:
            f.write(MARK)  # tells the installed copy from the source tree's
        cases = [
            # binary,                                   page folder it must serve, marked
            (sb.binary("vb-web"), SOURCE_WWW, False),
            (os.path.join(prefix, "usr/bin/vb-web"), installed_www, True),
        ]
        for binary, www, marked in cases:
            web = start_web(sb, [binary])
            sb.expect("from %s\n" % www in web.stderr_text(), "%s: %r" % (binary, web.stderr_text()))
            status, _, page = si.web_request("/")
            sb.expect(status == 200 and page.endswith(MARK) == marked, "%s: GET / %d, marked %r"
                      % (binary, status, page.endswith(MARK)))
            with open(os.path.join(SOURCE_WWW, "app.js"), "rb") as f:
                sb.expect(si.web_request("/app.js")[::2] == (200, f.read()), "%s: app.js differs" % binary)
            sb.stop(web)

        # Without its installed files it fails, and never serves the source tree instead.
        shutil.rmtree(installed_www)
        web = sb.start([os.path.join(prefix, "usr/bin/vb-web"), "--port", str(PORT)], name="vb-web")
        sb.expect(sb.wait_until(lambda: not web.running(), timeout=15), "vb-web runs without its page")
        sb.expect(web.returncode() == 1 and "share/vantagebridge/www" in web.stderr_text(),
                  "exit %r: %r" % (web.returncode(), web.stderr_text()))
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


def capabilities(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f.read().splitlines() if ":" in line)
    return {k: fields[k].strip() for k in ("Uid", "CapEff", "CapPrm", "CapBnd", "NoNewPrivs")}


def test_mailbox_needs_the_daemons_user_but_no_capability(sb):
    si.start_daemon(sb)
    mode = os.stat("/dev/shm/hud_mem").st_mode & 0o777
    sb.expect(mode == 0o600, "/hud_mem has mode %o" % mode)
    prefix = install_web(sb)
    try:
        binary = os.path.join(prefix, "usr/bin/vb-web")
        dropped = ["setpriv", "--bounding-set=-all", "--inh-caps=-all", "--no-new-privs"]
        cases = [
            # user,        setpriv arguments,                             command status, log
            ("root",   dropped,                                           200, None),
            ("nobody", dropped + ["--reuid=65534", "--regid=65534", "--clear-groups"], 503,
             "vb-web: /hud_mem is not open to this user: run vb-web as the daemon's user"),
        ]
        command = json.dumps({"cmd": "configrequest"})
        for user, wrapper, expected, log in cases:
            web = start_web(sb, wrapper + [binary])
            held = capabilities(web.pid)
            sb.expect(held["CapEff"] == held["CapPrm"] == held["CapBnd"] == "0" * 16 and held["NoNewPrivs"] == "1",
                      "%s: still holds %r" % (user, held))
            if log:
                sb.expect(sb.wait_for(web, log, timeout=15), "%s: %r" % (user, web.stderr_text()))
            status, _, body = si.web_request("/api/command", "POST", command, {"Content-Type": "application/json"})
            sb.expect(status == expected, "%s: command answered %d %r" % (user, status, body[:200]))
            sb.stop(web)
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


AVAHI_CONFIG = """[server]
use-ipv4=yes
use-ipv6=no
[publish]
publish-hinfo=no
publish-workstation=no
"""


def test_box_found_by_name(sb):
    staged = tempfile.mkdtemp(prefix="vb-announce-", dir="/run")
    try:
        result = subprocess.run(["cmake", "--install", sb.build_dir, "--component", "announce"],
                                env=dict(os.environ, DESTDIR=staged), capture_output=True, text=True)
        sb.expect(result.returncode == 0, "cmake --install: %s" % (result.stdout + result.stderr))
        services = sb.private_folder("/etc/avahi/services")
        # Under etc/ of the build's prefix: /etc for the package's /usr.
        found = [os.path.join(folder, name) for folder, _, names in os.walk(staged) for name in names
                 if folder.endswith("/etc/avahi/services")]
        sb.expect(len(found) == 2, "installed: %r" % found)
        for path in found:
            shutil.copy(path, services)
    finally:
        shutil.rmtree(staged, ignore_errors=True)
    # The sandbox's loopback carries the multicast; D-Bus and Avahi run on its /run.
    subprocess.run(["ip", "link", "set", "lo", "multicast", "on"], check=True)
    os.makedirs("/run/dbus", exist_ok=True)
    bus = sb.start(["dbus-daemon", "--system", "--nofork", "--nopidfile"], name="dbus-daemon")
    sb.expect(sb.wait_until(lambda: os.path.exists("/run/dbus/system_bus_socket"), 15), "no D-Bus: %s"
              % bus.stderr_text())
    config = os.path.join(sandbox.SANDBOX_DIR, "avahi-daemon.conf")
    with open(config, "w") as f:
        f.write(AVAHI_CONFIG)
    avahi = sb.start(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f", config], name="avahi")
    sb.expect(sb.wait_until(lambda: avahi.stderr_text().count("successfully established") == 2, 30),
              "Avahi did not take both files: %s" % avahi.stderr_text())
    browse = sb.start(["avahi-browse", "--all", "--terminate", "--resolve", "--parsable", "--no-db-lookup"],
                      name="avahi-browse")
    sb.expect(sb.wait_until(lambda: not browse.running(), 30), "avahi-browse did not finish")
    # =;interface;protocol;name;type;domain;host;address;port;txt
    resolved = {(f[4], f[8]) for f in (line.split(";") for line in browse.stdout_text().splitlines())
                if f[0] == "=" and len(f) > 8}
    sb.expect(("_http._tcp", "8080") in resolved and ("_vantagebridge._udp", "4242") in resolved,
              "seen by name: %r" % sorted(resolved))


if __name__ == "__main__":
    sandbox.main([test_page_found_from_where_the_binary_lies, test_mailbox_needs_the_daemons_user_but_no_capability,
                  test_box_found_by_name])
