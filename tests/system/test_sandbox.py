"""The sandbox itself: what the daemon may touch is private, and the dangerous
programs only record."""

import os
import socket
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402


def mount_points():
    points = {}
    with open("/proc/self/mountinfo") as f:
        for line in f:
            fields = line.split()
            fstype = fields[fields.index("-") + 1]
            points[fields[4]] = fstype
    return points


def test_private_folders_are_tmpfs(sb):
    points = mount_points()
    paths = ["/boot", "/run", "/dev/shm"]
    if os.path.isdir(os.path.dirname(sandbox.CPUFREQ_DIR)):
        paths.append(sandbox.CPUFREQ_DIR)
    for path in paths:
        owner = path
        while owner not in points:
            owner = os.path.dirname(owner)
        sb.expect(points[owner] == "tmpfs", "%s lies on %s (%s)" % (path, owner, points[owner]))


def test_only_loopback_and_the_camera_link_exist(sb):
    names = sorted(os.listdir("/sys/class/net")) if os.path.isdir("/sys/class/net") else []
    out = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True).stdout
    links = [line.split(":")[1].strip().split("@")[0] for line in out.splitlines()]
    sb.expect(links == ["lo", "usb0"], "links %r (sysfs %r)" % (links, names))
    sb.expect("UP" in out.split(">")[0], "loopback down: %r" % out)
    # usb0's far end is in the camera's namespace, not on the machine.
    far = subprocess.run(["ip", "-n", sandbox.CAMERA_NETNS, "-o", "link"], capture_output=True, text=True).stdout
    sb.expect([l.split(":")[1].strip().split("@")[0] for l in far.splitlines()] == ["lo", sandbox.CAMERA_VETH],
              "camera namespace links %r" % far)


# Echoes one datagram back to where it came from, then prints that address.
ECHO_ONCE = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", int(sys.argv[1])))
print("ready", flush=True)
data, source = s.recvfrom(100)
s.sendto(data, source)
print("from %s" % source[0], flush=True)
"""


def test_outside_host_is_reached_only_through_a_route(sb):
    outside = sb.outside_host()
    routes = subprocess.run(["ip", "-o", "route"], capture_output=True, text=True).stdout
    sb.expect("198.51.100.0/24 via 10.99.0.2" in routes, "no route to the outside host: %r" % routes)
    sb.expect(not any(l.startswith("198.51.100.") and "via" not in l for l in routes.splitlines()),
              "the outside network is directly connected: %r" % routes)

    # The outside host's datagrams come from its routed address...
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", 0))
    s.settimeout(10)
    sender = outside.start_python("import socket, sys; socket.socket(socket.AF_INET, socket.SOCK_DGRAM)"
                                  ".sendto(b'hello', (sys.argv[1], int(sys.argv[2])))",
                                  outside.box_address, s.getsockname()[1])
    data, source = s.recvfrom(100)
    sb.expect((data, source[0]) == (b"hello", sandbox.OUTSIDE_ADDRESS), "got %r from %r" % (data, source))
    # ...and what the box sends there arrives.
    echo = outside.start_python(ECHO_ONCE, 7777)
    sb.expect(sb.wait_for(echo, "ready", stream="stdout", timeout=10), "echo did not start")
    s.sendto(b"ping", (sandbox.OUTSIDE_ADDRESS, 7777))
    data, source = s.recvfrom(100)
    sb.expect((data, source[0]) == (b"ping", sandbox.OUTSIDE_ADDRESS), "echo %r from %r" % (data, source))
    sb.expect(sb.wait_for(echo, "from 10.99.0.1", stream="stdout", timeout=10),
              "echo saw %r" % echo.stdout_text())
    s.close()
    sb.stop(sender)


def test_programs_record_instead_of_acting(sb):
    script = ("reboot; shutdown -h now; /sbin/shutdown -r now; killall -q display; /usr/bin/killall x; "
              "umount /boot; mount -o rw,remount /boot; tvservice -e 'CEA 4'; sync; "
              "iwlist wlan0 scan; pidof hostapd || echo none")
    sb.set_scan_output("Cell 01\n")
    proc = sb.start(["sh", "-c", script], name="sh")
    sb.expect(sb.wait_until(lambda: not proc.running(), timeout=10), "shell still running")
    log = sb.stub_log()
    for expected in ("reboot ", "shutdown -h now", "shutdown -r now", "killall -q display", "killall x",
                     "umount /boot", "mount -o rw,remount /boot", "tvservice -e CEA 4", "sync ",
                     "iwlist wlan0 scan", "pidof hostapd"):
        sb.expect(expected in log, "%r not recorded: %r" % (expected, log))
    sb.expect(proc.stdout_text() == "Cell 01\nnone\n", "stub output %r" % proc.stdout_text())
    sb.expect(os.path.ismount("/boot"), "/boot was really unmounted")


if __name__ == "__main__":
    sandbox.main([
        test_private_folders_are_tmpfs,
        test_outside_host_is_reached_only_through_a_route,
        test_only_loopback_and_the_camera_link_exist,
        test_programs_record_instead_of_acting,
    ])
