"""Box-level commands through the real daemon: the Wi-Fi scan reply reaches a
viewer as valid JSON of at most one data message, and texts with line breaks
cannot add lines to the saved file."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

BOOT_FILE = "/boot/vantagebridge-cable.conf"
RUN_FILE = "/run/vantagebridge.conf"
MAX_PAYLOAD = 3992


def start(sb, config="control_enabled=1\n"):
    return si.start_daemon(sb, config)


def viewer(sb):
    v = sb.start_tool("vb-viewer")
    sb.expect(si.wait_line(v, "ack", timeout=15), "viewer not registered")
    return v


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
    start(sb)
    v = viewer(sb)
    si.send_json(sb, {"cmd": "wlan", "param": "scan", "value": "2"})
    reply = json_reply(sb, v, '{"cmd":"wlanscan"')
    sb.expect(reply["param"] == "2", "param %r" % reply["param"])
    got = reply["value"].split(",")
    sb.expect(got[:3] == names[:3], "first names %r" % got[:3])
    sb.expect(10 < len(got) < len(names), "%d names in one message" % len(got))
    sb.expect(got == names[:len(got)], "names cut inside a name: %r" % got[-1])
    sb.expect("iwlist wlan0 scan" in sb.stub_log(), "stub log %r" % sb.stub_log())


def test_line_breaks_in_texts_do_not_add_lines(sb):
    start(sb)
    si.send_json(sb, {"cmd": "updateparam", "name": "wifi", "value4": "1", "value5": "Home\r\nrc_input_enabled=1",
                      "value6": "pw\n[main]", "value7": "2", "value8": "AP", "value9": "x", "value10": "5",
                      "value11": "36", "value12": "US"})
    sb.expect(sb.wait_until(lambda: b'wifi_ssid="' in si.read_bytes(BOOT_FILE) and si.read_bytes(RUN_FILE), 15),
              "file not saved")
    sb.wait_until(lambda: si.read_bytes(RUN_FILE).replace(b"\n", b"\r\n") == si.read_bytes(BOOT_FILE), 5)
    data = si.read_bytes(BOOT_FILE)
    sb.expect(b'\r\nwifi_ssid="Homerc_input_enabled=1"\r\n' in data, "ssid line %r" % data[-900:])
    sb.expect(b'\r\nwifi_psk="pw[main]"\r\n' in data, "psk line")
    sb.expect(data.count(b"\r\nrc_input_enabled=") == 1, "a second rc_input_enabled line")
    sb.expect(b"\n" not in data.replace(b"\r\n", b""), "a bare line feed in the file")


if __name__ == "__main__":
    sandbox.main([
        test_wifi_scan_reply,
        test_line_breaks_in_texts_do_not_add_lines,
    ])
