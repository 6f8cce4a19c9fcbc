"""vb-hud against real shared memory in the sandbox: the JSON snapshot of a
record the daemon fills, of a record filled byte by byte under a private
name, and proof that the tool never writes the record."""

import hashlib
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

RECORD_SIZE = 2728
PRIVATE = "/vb_hud_test"
PRIVATE_PATH = "/dev/shm" + PRIVATE


def snapshot(sb, *args):
    proc = sb.start_tool("vb-hud", "--json", *args)
    sb.expect(sb.wait_until(lambda: not proc.running(), timeout=20), "vb-hud --json still running")
    return proc


def parsed(sb, proc):
    sb.expect(proc.returncode() == 0, "exit %r: %s" % (proc.returncode(), proc.stderr_text()))
    lines = proc.stdout_text().splitlines()
    sb.expect(len(lines) == 1, "not one line: %r" % lines)
    return json.loads(lines[0])


def member(document, path):
    for key in path.split("."):
        document = document[int(key)] if isinstance(document, list) else document[key]
    return document


def fill_private_record(fields):
    record = bytearray(RECORD_SIZE)
    for offset, data in fields:
        record[offset:offset + len(data)] = data
    with open(PRIVATE_PATH, "wb") as f:
        f.write(record)


# (offset, bytes written, JSON member, value expected)
FIELDS = [
    (0, b"\x02", "marker", 2),
    (1, b"Vantagebridge Cable Basic\0", "title", "Vantagebridge Cable Basic"),
    (605, b"v.0.14.10\0", "version", "v.0.14.10"),
    (187, b"\x07", "viewers", 7),
    (188, b"\x01", "link.data", True),
    (189, b"\x00", "link.telemetry", False),
    (191, b"telemetry disconnected\0", "link.text", "telemetry disconnected"),
    (190, b"\x01", "video.connected", True),
    (656, struct.pack("<d", math.pi / 2), "attitude.pan_deg", 90.0),
    (640, struct.pack("<d", -math.pi / 4), "attitude.tilt_deg", -45.0),
    (2402, b"\x01", "attitude.orientation_locked", True),
    (2379, b"\x80", "camera.recording", True),
    (2403, b"\x01", "camera.work_mode", "video"),
    (129, b"\x01", "camera.status_valid", True),
    (2424, struct.pack("<I", 0x8064), "settings.shutter", "1/100"),
    (2432, struct.pack("<d", 2.8), "settings.aperture", 2.8),
    (2411, struct.pack("<b", -7), "settings.ev", -0.7),
    (2445, b"\x2a", "focus.percent", 42),
    (625, b"\x01", "display.osd", True),
    (887, b"\x03", "rc.status", 3),
    (1568, b"\x01", "rc.suspended", True),
    (890 + 2 * 5, struct.pack("<H", 1500), "rc.channels.5", 1500),
    (954, bytes([0, 1, 2, 255]), "rc.map.2", "record"),
    (957, b"\xff", "rc.map.3", "-"),
    (986 + 2 * 1, struct.pack("<h", 1), "rc.functions.tilt.active", 1),
    (1056 + 8 * 1, struct.pack("<d", -0.25), "rc.functions.tilt.value", -0.25),
    (2636, b"\x01", "shield", "closed"),
    (2682, b"100MEDIA/DJI_0042.MOV\0", "last_media_file", "100MEDIA/DJI_0042.MOV"),
    # Another process's text: quotes escaped, a byte that is not UTF-8 replaced.
    (1570, b'{"cmd":"iso","param":"\xff400"}\0', "mailbox.text", '{"cmd":"iso","param":"?400"}'),
    (2625, b"\x01\x00", "sibling_status.0", 1),
    # Each pair of update counters agrees: a whole copy.
    (760, struct.pack("<IIII", 7, 7, 9, 9), "consistent", True),
]


def test_snapshot_of_a_filled_record_never_writes_it(sb):
    fill_private_record([(o, d) for o, d, _, _ in FIELDS])
    with open(PRIVATE_PATH, "rb") as f:
        before = hashlib.sha256(f.read()).hexdigest()
    mtime = os.stat(PRIVATE_PATH).st_mtime_ns
    document = parsed(sb, snapshot(sb, "--record", PRIVATE))
    sb.expect(document["record"] == PRIVATE, "record %r" % document["record"])
    for offset, _, path, expected in FIELDS:
        got = member(document, path)
        ok = math.isclose(got, expected, abs_tol=1e-9) if isinstance(expected, float) else got == expected
        sb.expect(ok, "%s (byte %d): %r, expected %r" % (path, offset, got, expected))
    sb.expect(document["mailbox"]["pending"] is True, "mailbox not pending")
    # The live view, on a terminal of its own.
    env_term = ["env", "TERM=xterm"]
    live = sb.start(env_term + ["script", "-qfc", "%s --record %s --refresh 50" % (sb.binary("vb-hud"), PRIVATE),
                                "/dev/null"], name="vb-hud-live")
    sb.expect(sb.wait_for(live, "VIEWERS", stream="stdout", timeout=20), "no screen: %r" % live.stdout_text()[-300:])
    state = {}

    def hud_found():
        state["pid"] = descendant_named(live.pid, "vb-hud")
        return state["pid"] is not None

    # script may run the tool through a shell that forks rather than execs.
    sb.wait_until(hud_found, timeout=10)
    hud_pid = state["pid"]
    sb.expect(hud_pid is not None, "live vb-hud not found under script")
    with open("/proc/%s/maps" % hud_pid) as f:
        maps = [line.split() for line in f if line.rstrip().endswith(PRIVATE_PATH)]
    sb.expect(maps and all(m[1] == "r--s" for m in maps), "record mapped as %r" % maps)
    sb.stop(live)
    with open(PRIVATE_PATH, "rb") as f:
        sb.expect(hashlib.sha256(f.read()).hexdigest() == before, "record changed")
    sb.expect(os.stat(PRIVATE_PATH).st_mtime_ns == mtime, "record touched")


def test_snapshot_of_odd_records(sb):
    # Texts that fill their field without a NUL, and numbers that are not numbers.
    # And an update that never ended (a writer that died in it): still a snapshot, said to be torn.
    fill_private_record([(1, b"T" * 128), (129, b"\x55"), (2432, struct.pack("<d", float("nan"))),
                         (656, struct.pack("<d", float("inf"))), (768, struct.pack("<II", 4, 3))])
    document = parsed(sb, snapshot(sb, "--record", PRIVATE))
    sb.expect(document["consistent"] is False, "torn copy said %r" % document["consistent"])
    sb.expect(document["title"] == "T" * 128, "title %r" % document["title"][:140])
    sb.expect(document["settings"]["aperture"] is None, "NaN aperture %r" % document["settings"]["aperture"])
    sb.expect(document["attitude"]["pan_deg"] is None, "infinite pan %r" % document["attitude"]["pan_deg"])
    for name, size in (("missing", None), ("short", 100)):
        if os.path.exists(PRIVATE_PATH):
            os.unlink(PRIVATE_PATH)
        if size is not None:
            with open(PRIVATE_PATH, "wb") as f:
                f.write(b"\x02" * size)
        proc = snapshot(sb, "--record", PRIVATE)
        sb.expect(proc.returncode() == 1, "%s record: exit %r" % (name, proc.returncode()))
        sb.expect("vb-hud: " + PRIVATE in proc.stderr_text(), "%s record: %r" % (name, proc.stderr_text()))
        sb.expect(proc.stdout_text() == "", "%s record printed %r" % (name, proc.stdout_text()))


def test_snapshot_of_the_daemon_record(sb):
    si.start_daemon(sb, ready="Init FTP")
    sb.start_tool("vb-camera", "--still", "--quiet", "--video-kbps", "500")
    sb.start_tool("vb-viewer", "--quiet-video")
    state = {}

    def settled():
        state["doc"] = parsed(sb, snapshot(sb))
        d = state["doc"]
        return d["link"]["data"] and d["video"]["connected"] and d["viewers"] == 1 and d["camera"]["status_valid"]

    sb.expect(sb.wait_until(settled, timeout=30), "never up with one viewer: %r" % state.get("doc"))
    d = state["doc"]
    sb.expect(d["record"] == "/hud_mem" and d["marker"] == 2, "record %r marker %r" % (d["record"], d["marker"]))
    sb.expect(d["consistent"] is True, "the daemon's record copied torn")
    _, camera_done, _, other_done = struct.unpack("<IIII", sb.read_hud(760, 16))
    sb.expect(camera_done > 0 and other_done > 0, "updates counted: %r" % [camera_done, other_done])
    sb.expect(d["link"]["text"] == "" and d["video"]["text"] == "", "link texts %r" % [d["link"], d["video"]])
    pan = struct.unpack("<d", sb.read_hud(656, 8))[0]
    sb.expect(math.isclose(d["attitude"]["pan_deg"], math.degrees(pan), abs_tol=1e-3),
              "pan %r, record holds %r rad" % (d["attitude"]["pan_deg"], pan))


def descendant_named(root, name):
    """The first process below root whose command name is name, or None."""
    pending = [str(root)]
    while pending:
        pid = pending.pop()
        try:
            with open("/proc/%s/comm" % pid) as comm:
                if pid != str(root) and comm.read().strip() == name:
                    return pid
            for task in os.listdir("/proc/%s/task" % pid):
                with open("/proc/%s/task/%s/children" % (pid, task)) as f:
                    pending.extend(f.read().split())
        except OSError:
            continue
    return None


TESTS = [
    test_snapshot_of_a_filled_record_never_writes_it,
    test_snapshot_of_odd_records,
    test_snapshot_of_the_daemon_record,
]

if __name__ == "__main__":
    sandbox.main(TESTS)
