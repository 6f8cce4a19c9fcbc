"""Box-level commands through the real daemon: the Wi-Fi scan reply reaches a
viewer as valid JSON of at most one data message."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

MAX_PAYLOAD = 3992


def json_reply(sb, v, cmd_prefix, since=0):
    line = si.wait_line(v, "json " + cmd_prefix, timeout=15, since=since)
    sb.expect(line is not None, "no reply starting %r" % cmd_prefix)
    text = line[len("json "):]
    sb.expect(len(text.encode()) <= MAX_PAYLOAD, "reply of %d bytes" % len(text.encode()))
    return json.loads(text)


def test_wifi_scan_reply(sb):
    names = ['Home', 'quote"d', 'back\\slash'] + ["network-%03d" % i for i in range(400)]
    scan = "wlan0     Scan completed :\n"
    for i, name in enumerate(names):
        scan += "          Cell %02d - Address: 00:11:22:33:44:%02X\n" % (i, i % 256)
        scan += '                    ESSID:"%s"\n' % name
        scan += "                    Quality=70/70  Signal level=-40 dBm\n"
    sb.set_scan_output(scan)
    si.start_daemon(sb)
    v = si.start_viewer(sb)
    si.send_json(sb, {"cmd": "wlan", "param": "scan", "value": "2"})
    reply = json_reply(sb, v, '{"cmd":"wlanscan"')
    sb.expect(reply["param"] == "2", "param %r" % reply["param"])
    got = reply["value"].split(",")
    sb.expect(got[:3] == names[:3], "first names %r" % got[:3])
    sb.expect(10 < len(got) < len(names), "%d names in one message" % len(got))
    sb.expect(got == names[:len(got)], "names cut inside a name: %r" % got[-1])
    sb.expect("iwlist wlan0 scan" in sb.stub_log(), "stub log %r" % sb.stub_log())


if __name__ == "__main__":
    sandbox.main([
        test_wifi_scan_reply,
    ])
