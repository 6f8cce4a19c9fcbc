"""Reading what the camera and viewer stand-ins print, for the system tests.

vb-camera prints one line per frame it receives from the box:
    rx 14 02>01 40 02:2A seq=17 | 03
and "answer ok|mismatch|missing NAME ..." lines for the box's answers to its
queries. vb-viewer prints one line per message from the box ("status
flags=0x11 clients=1 rc=0 ...", "link data state=2", "video 25 dgrams/s ...").

The helpers below start the daemon and the stand-ins in a sandbox and send
what a viewer sends, for the tests that share those steps.
"""

import http.client
import json
import os
import re
import struct
import time

RX = re.compile(r"^rx (\d+) ([0-9A-F]{2})>([0-9A-F]{2}) ([0-9A-F]{2}) ([0-9A-F]{2}):([0-9A-F]{2}) "
                r"seq=(\d+)(?: \| ([0-9A-F ]+?))?( crc=bad)?$")


class Frame:
    """One frame as vb-camera received it."""

    def __init__(self, match):
        self.length = int(match.group(1))
        self.sender, self.receiver, self.type, self.set, self.id = (int(match.group(i), 16) for i in range(2, 7))
        self.seq = int(match.group(7))
        self.payload = match.group(8) or ""
        self.crc_ok = match.group(9) is None
        self.text = "%d %s>%s %s %s:%s" % ((self.length,) + tuple(match.group(i) for i in range(2, 7)))
        if self.payload:
            self.text += " | " + self.payload

    def __repr__(self):
        return "<%s seq=%d>" % (self.text, self.seq)


def lines(proc, stream="stdout"):
    text = proc.stdout_text() if stream == "stdout" else proc.stderr_text()
    return text.splitlines()


def frames(camera, since=0):
    """Frames vb-camera received, from its output line index since on."""
    out = []
    for line in lines(camera)[since:]:
        m = RX.match(line)
        if m:
            out.append(Frame(m))
    return out


def is_clock(frame):
    """The box sets the camera's clock every second until a viewer sets the time."""
    return frame.set == 0x02 and frame.id == 0x54


def find_run(frames_seen, wanted):
    """Index in frames_seen where the wanted frame texts begin, one right after
    the other with no other frame between them (the clock frames the box sends
    every second aside, unless wanted); None when they did not arrive so."""
    kept = [(i, f.text) for i, f in enumerate(frames_seen) if f.text in wanted or not is_clock(f)]
    for k in range(len(kept) - len(wanted) + 1):
        if [text for _, text in kept[k:k + len(wanted)]] == wanted:
            return kept[k][0]
    return None


def wait_lines(proc, predicate, timeout=20.0, since=0, stream="stdout"):
    """Waits until predicate(list of lines from index since) is true; returns the last lines seen."""
    deadline = time.monotonic() + timeout
    while True:
        seen = lines(proc, stream)[since:]
        if predicate(seen):
            return seen, True
        if time.monotonic() > deadline or not proc.running():
            seen = lines(proc, stream)[since:]
            return seen, predicate(seen)
        time.sleep(0.05)


def wait_line(proc, prefix, timeout=20.0, since=0, stream="stdout"):
    """Waits for a line starting with prefix; returns it or None."""
    seen, ok = wait_lines(proc, lambda ls: any(l.startswith(prefix) for l in ls), timeout, since, stream)
    if not ok:
        return None
    return next(l for l in seen if l.startswith(prefix))


def count_prefix(proc, prefix, since=0, stream="stdout"):
    return sum(1 for l in lines(proc, stream)[since:] if l.startswith(prefix))


def video_rates(viewer):
    """(datagrams, bytes) of each per-second video line of a viewer."""
    out = []
    for line in lines(viewer):
        m = re.match(r"^video (\d+) dgrams/s (\d+) B/s$", line)
        if m:
            out.append((int(m.group(1)), int(m.group(2))))
    return out


def stamped(viewer, prefix):
    """Times (t=...) of the lines of a --stamp viewer that start with prefix."""
    out = []
    for line in lines(viewer):
        if line.startswith(prefix):
            m = re.search(r" t=([0-9.]+)$", line)
            if m:
                out.append(float(m.group(1)))
    return out


def wait_exit(sb, proc, timeout=20.0):
    """Waits for a process to end by itself; returns its exit code or None."""
    sb.wait_until(lambda: not proc.running(), timeout)
    return proc.returncode()


# Starting the daemon and the stand-ins, and sending as a viewer.

def start_daemon(sb, config=None, ready="Init device discovery"):
    """Writes the configuration (when given), starts the daemon and waits for
    the start-up line that says it is ready."""
    if config is not None:
        sb.write_config(config)
    daemon = sb.start_daemon()
    sb.expect(sb.wait_for(daemon, ready, timeout=30), "daemon did not start")
    return daemon


def start_camera(sb, daemon):
    """A still camera stand-in that asks nothing, once the link is up: every
    frame it receives is one the box originates."""
    camera = sb.start_tool("vb-camera", "--still", "--no-queries", "--quiet")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "link did not come up")
    return camera


def start_viewer(sb, *args):
    """A vb-viewer, once the box has acknowledged its registration."""
    viewer = sb.start_tool("vb-viewer", *args)
    sb.expect(wait_line(viewer, "ack", timeout=15) is not None, "viewer %s not acknowledged" % (args,))
    return viewer


def start_status_viewer(sb):
    """A viewer, once the camera's status has reached the box through it."""
    viewer = sb.start_tool("vb-viewer", "--data-only")
    sb.expect(wait_line(viewer, "camera-status work_mode=1", timeout=15), "no status report reached the box")
    return viewer


def send_json(sb, command):
    """Sends one JSON command (a text, or an object to encode) from an
    unregistered viewer and waits until that viewer is done."""
    text = command if isinstance(command, str) else json.dumps(command, separators=(",", ":"))
    sender = sb.start_tool("vb-viewer", "--no-register", "--send", text, "--seconds", "0.6", "--quiet-video")
    sb.expect(wait_exit(sb, sender, 10) == 0, "viewer did not send %s" % text[:200])


def viewer_port(viewer):
    """The UDP port a vb-viewer says it sends from."""
    line = wait_line(viewer, "vb-viewer ", timeout=10)
    m = re.search(r"from port (\d+)", line or "")
    if not m:
        raise AssertionError("viewer did not say its port: %r" % line)
    return int(m.group(1))


def web_request(path, method="GET", body=None, headers=None, timeout=30, port=8080):
    """One HTTP request to vb-web on 127.0.0.1: (status, headers, body bytes)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.msg, response.read()
    finally:
        connection.close()


def read_bytes(path):
    """The file's bytes, or none when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


SETTINGS_TEXTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden", "settings_texts.json")


def settings_texts():
    """The rows of the golden settings-text table, each text spelled out;
    "stored" is None where the box refuses the change."""
    def spelled(value):
        return value if value is None or isinstance(value, str) else \
            "".join(p if isinstance(p, str) else p[0] * p[1] for p in value)
    with open(SETTINGS_TEXTS) as f:
        rows = json.load(f)["rows"]
    for row in rows:
        row["text"] = spelled(row["text"])
        row["stored"] = spelled(row["stored"]) if "stored" in row else row["text"]
    return rows


# Datagrams as the peers send them, for tests that play a peer by hand.

def _crc(data, crc, polynomial):
    """The frames' reflected CRCs: 8 bits (seed 0x77, 0x8C) and 16 (seed 0x3692, 0x8408)."""
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ polynomial if crc & 1 else crc >> 1
    return crc


def camera_frame(sender, receiver, kind, command_set, command_id, seq, payload=b""):
    """One intact camera frame: start byte, length, both checksums."""
    length = 13 + len(payload)
    head = bytes([0x55, length, 0x04])
    body = head + bytes([_crc(head, 0x77, 0x8C), sender, receiver]) + struct.pack("<H", seq & 0xFFFF) + \
        bytes([kind, command_set, command_id]) + bytes(payload)
    return body + struct.pack("<H", _crc(body, 0x3692, 0x8408))


def camera_keepalive(seq=1):
    """The camera's keep-alive query, which the box answers with a 14-byte frame."""
    return camera_frame(0x01, 0x09, 0x40, 0x09, 0x0E, seq, b"\x00\x00")


def viewer_datagram(payload):
    """A viewer's datagram: 'B', eleven header bytes the box does not read, the payload."""
    return b"B" + bytes(11) + bytes(payload)


def viewer_connect(data_only=False):
    return viewer_datagram(bytes([0, 1 if data_only else 0]))


def viewer_disconnect():
    return viewer_datagram(b"\x01")


def viewer_gimbal(selector, a, b):
    return viewer_datagram(struct.pack("<BBhhh", 5, selector, a, b, 0))


def viewer_attitude(q1, q2, q3, q4):
    return viewer_datagram(struct.pack("<BBBhhhh", 6, 0, 0, q1, q2, q3, q4))


def viewer_json(text):
    return viewer_datagram(text.encode())
