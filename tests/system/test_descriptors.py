"""No descriptor of the daemon leaks into the programs it runs: with the
camera, video and a viewer all going, a program the box runs (the pidof of the
access point check) holds nothing but its standard streams, and every
descriptor the daemon itself holds is close-on-exec."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

O_CLOEXEC = 0o2000000
INHERITED = os.path.join(sandbox.STUB_DIR, "pidof.fds")


def inherited_descriptors():
    """(number, target) of what the last pidof call inherited, None before the first."""
    try:
        with open(INHERITED) as f:
            rows = [line.rstrip("\n").split(" -> ", 1) for line in f if " -> " in line]
    except FileNotFoundError:
        return None
    # The stub's own script is the one descriptor that is not inherited.
    return [(int(left.rsplit("/", 1)[1]), target) for left, target in rows if not target.endswith("/stubs/pidof")]


def descriptors_without_cloexec(pid):
    found = []
    for name in os.listdir("/proc/%d/fd" % pid):
        if int(name) <= 2:
            continue
        try:
            with open("/proc/%d/fdinfo/%s" % (pid, name)) as f:
                flags = next(int(l.split()[1], 8) for l in f if l.startswith("flags:"))
            target = os.readlink("/proc/%d/fd/%s" % (pid, name))
        except (FileNotFoundError, StopIteration):
            continue  # closed meanwhile
        if not flags & O_CLOEXEC:
            found.append((int(name), target))
    return found


def test_programs_the_box_runs_inherit_none_of_its_descriptors(sb):
    daemon = si.start_daemon(sb, "control_enabled=1\nap_iface=wlan0\nrc_input_enabled=1\n")
    sb.start_tool("vb-camera", "--still", "--quiet", "--video-kbps", "1000")
    viewer = sb.start_tool("vb-viewer", "--quiet-video")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=15), "no video")
    sb.expect(si.wait_line(viewer, "ack", timeout=15) is not None, "viewer not acknowledged")
    # A pidof run that started after everything was open.
    if os.path.exists(INHERITED):
        os.unlink(INHERITED)
    sb.expect(sb.wait_until(lambda: inherited_descriptors() is not None, 15), "the box ran no pidof")
    got = inherited_descriptors()
    sb.expect(sorted(n for n, _ in got) == [0, 1, 2], "pidof inherited %r" % got)
    leaks = descriptors_without_cloexec(daemon.pid)
    sb.expect(not leaks, "descriptors of the daemon without close-on-exec: %r" % leaks)


if __name__ == "__main__":
    sandbox.main([test_programs_the_box_runs_inherit_none_of_its_descriptors])
