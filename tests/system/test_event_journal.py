"""Who did what, and the box's health, end to end: the real daemon writes its
entries into a journal of the sandbox's own (a private systemd-journald over
the sandbox's /run, volatile storage, nothing forwarded), its standard error
connected to that journal's stream socket as systemd connects a service's.
vb-web reads the entries back for the page and the JSON-lines download;
vb-hud --json and /metrics show the health the daemon publishes."""

import json
import os
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

PORT = 8080
JOURNALD = "/lib/systemd/systemd-journald"
STREAM_SOCKET = "/run/systemd/journal/stdout"
JOURNALD_CONFIG = """[Journal]
Storage=volatile
ForwardToSyslog=no
ForwardToKMsg=no
ForwardToConsole=no
ForwardToWall=no
ReadKMsg=no
Audit=no
"""
WIFI = {"cmd": "updateparam", "name": "wifi", "value4": "2", "value5": "Home", "value6": "secret-one",
        "value7": "1", "value8": "Box", "value9": "secret-two", "value10": "2.4", "value11": "6", "value12": "US"}


def start_journal(sb):
    """systemd-journald of the sandbox's own: its sockets and files under the sandbox's /run."""
    if os.path.isdir("/var/log/journal"):
        sb.private_folder("/var/log/journal", "2755")
    for leftover in ("/run/systemd/journal", "/run/log/journal"):  # a previous test's journal
        shutil.rmtree(leftover, ignore_errors=True)
    os.makedirs("/run/systemd/journald.conf.d", exist_ok=True)
    with open("/run/systemd/journald.conf.d/zz-vb-sandbox.conf", "w") as f:
        f.write(JOURNALD_CONFIG)
    journald = sb.start(["env", "SYSTEMD_LOG_TARGET=console", JOURNALD], name="journald")
    sb.expect(sb.wait_until(lambda: os.path.exists(STREAM_SOCKET), 20), "journald did not start: %s"
              % journald.stderr_text())
    return journald


def start_under_journal(sb, argv, identifier):
    """A program whose standard error is a journal stream, named by JOURNAL_STREAM, as under systemd."""
    stream = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    stream.connect(STREAM_SOCKET)
    # identifier, unit, priority, level prefix, forward to syslog, kmsg, console
    stream.sendall(("%s\n\n6\n0\n0\n0\n0\n" % identifier).encode())
    st = os.fstat(stream.fileno())
    try:
        return sb.start(argv, name=identifier, stderr=stream.fileno(),
                        extra_env={"JOURNAL_STREAM": "%d:%d" % (st.st_dev, st.st_ino)})
    finally:
        stream.close()


def journal(*matches):
    """Entries of the sandbox's journal as dictionaries (journalctl's JSON)."""
    result = subprocess.run(["journalctl", "-q", "--no-pager", "-o", "json"] + list(matches),
                            capture_output=True, text=True)
    return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]


def get(path):
    status, headers, body = si.web_request(path)
    return status, headers, body.decode()


def events():
    status, _, body = get("/api/events")
    return json.loads(body) if status == 200 else []


def start_box(sb):
    start_journal(sb)
    daemon = start_under_journal(sb, [sb.binary("vantagebridge")], "vantagebridge")
    sb.expect(sb.wait_until(lambda: journal("SYSLOG_IDENTIFIER=vantagebridge", "--grep", "Init device discovery"),
                            30), "the daemon's log never reached the journal")
    camera = sb.start_tool("vb-camera", "--still", "--quiet", "--video-kbps", "400")
    web = sb.start_tool("vb-web", "--port", PORT)
    sb.expect(sb.wait_for(web, "vb-web: serving", timeout=15), "vb-web did not start: " + web.stderr_text())
    return daemon, camera, web


def test_who_did_what_and_the_health_reach_the_journal_the_page_and_the_download(sb):
    started = int(time.time())
    daemon, camera, web = start_box(sb)
    viewer = sb.start_tool("vb-viewer", "--quiet-video")
    port = si.viewer_port(viewer)
    me = "viewer 127.0.0.1:%d" % port
    sb.expect(sb.wait_until(lambda: journal("VB_EVENT=viewer-joined", "VB_SOURCE=" + me), 20), "no join entry")

    # The box's health reaches the HUD record and /metrics.
    label = 'vantagebridge_viewer_video_datagrams_delivered_total{viewer="127.0.0.1:%d"} ' % port

    def delivered():
        status, _, text = get("/metrics")
        values = [float(line.split()[-1]) for line in text.splitlines() if line.startswith(label)]
        return values[0] if values else 0
    sb.expect(sb.wait_until(lambda: delivered() > 10, 30), "no delivered video counted for the viewer")
    _, _, text = get("/metrics")
    sb.expect("vantagebridge_health_up 1\n" in text and "vantagebridge_first_video_seconds " in text,
              "metrics: %s" % text)
    hud = sb.start_tool("vb-hud", "--json")
    sb.expect(si.wait_exit(sb, hud, 10) == 0, "vb-hud --json failed: %s" % hud.stderr_text())
    health = json.loads(hud.stdout_text())["health"]
    sb.expect(health["fresh"] and health["first_video_ms"] is not None and health["boot_free_bytes"] > 0,
              "health: %r" % health)
    mine = [v for v in health["viewers"] if v["port"] == port]
    sb.expect(mine and mine[0]["video_delivered"] > 0 and mine[0]["video_dropped"] == 0, "viewers: %r" % health)
    # No sensor file in this machine's tree reads as absent, never as 0.
    if not os.path.exists("/sys/devices/platform/soc/soc:firmware/get_throttled"):
        sb.expect(health["throttle_flags"] is None and "vantagebridge_throttled " not in text,
                  "absent flags shown: %r" % health)

    # A viewer's command with passwords, one through the page's mailbox, and
    # a flood of one kind from one port.
    viewer_json = json.dumps(WIFI, separators=(",", ":"))
    si.send_json(sb, viewer_json)
    sb.expect(si.web_request("/api/command", "POST", json.dumps({"cmd": "iso", "param": "400"}),
                             {"Content-Type": "application/json"})[0] == 200, "the page's command was not taken")
    flood = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    flood.bind(("127.0.0.1", 0))
    flooder = "viewer 127.0.0.1:%d" % flood.getsockname()[1]
    for speed in range(40):
        flood.sendto(si.viewer_json('{"cmd":"position","param":"moverel","value1":"%d","value2":"0"}' % speed),
                     ("127.0.0.1", 4242))
    flood.sendto(si.viewer_json('{"cmd":"position","param":"moverel","value1":"0","value2":"0"}'), ("127.0.0.1", 4242))
    flood.close()

    # The flood's last command (the stop) is written within a second or two,
    # with the count of those held back.
    def flood_told():
        return [e for e in journal("VB_SOURCE=" + flooder) if e.get("VB_REPEATED")]
    sb.expect(sb.wait_until(flood_told, 20), "the flood's held-back count was never written")
    flood_entries = journal("VB_SOURCE=" + flooder)
    told = flood_told()[-1]
    sb.expect(len(flood_entries) <= 4, "a flood of 41 commands wrote %d entries" % len(flood_entries))
    sb.expect('"value1":"0"' in told["VB_COMMAND"], "the stop is not the one told: %r" % told["VB_COMMAND"])
    sb.expect(sum(1 + int(e.get("VB_REPEATED", 0)) for e in flood_entries) == 41,
              "the entries do not add up to 41 commands: %r" % [(e["VB_COMMAND"], e.get("VB_REPEATED"))
                                                                for e in flood_entries])

    # The camera and the viewer go; the links and the viewer's leaving are told.
    sb.stop(viewer)
    sb.stop(camera)
    sb.expect(sb.wait_until(lambda: journal("VB_EVENT=video-link", "VB_DETAIL=down"), 20), "no video-link down")
    sb.expect(sb.wait_until(lambda: journal("VB_EVENT=viewer-left", "VB_SOURCE=" + me), 20), "no leave entry")
    sb.expect(sb.wait_until(lambda: journal("VB_EVENT=save", "VB_DETAIL=saved"), 20), "no save entry")

    wifi = journal("VB_EVENT=command", "VB_SOURCE=viewer 127.0.0.1", "--grep", "updateparam")
    sb.expect(not wifi, "a command was logged under another port: %r" % wifi)
    seen = events()
    kinds = {(e.get("event"), e.get("source"), e.get("detail")) for e in seen}
    for wanted in [("viewer-joined", me, "video"), ("camera-link", "camera", "up"), ("video-link", "video", "up"),
                   ("camera-link", "camera", "down"), ("save", "settings", "saved")]:
        sb.expect(wanted in kinds, "the page lacks %r: %r" % (wanted, sorted(kinds, key=str)))
    commands = [e for e in seen if e.get("event") == "command"]
    mailbox = [e for e in commands if e.get("source") == "mailbox"]
    sb.expect(mailbox and json.loads(mailbox[-1]["command"]) == {"cmd": "iso", "param": "400"},
              "the mailbox command: %r" % mailbox)
    masked = [e for e in commands if '"updateparam"' in e.get("command", "")]
    sb.expect(masked and '"value6":"***"' in masked[0]["command"] and '"value9":"***"' in masked[0]["command"]
              and '"value5":"Home"' in masked[0]["command"], "the Wi-Fi command: %r" % masked)
    everything = subprocess.run(["journalctl", "-o", "export"], capture_output=True).stdout
    sb.expect(b"secret-one" not in everything and b"secret-two" not in everything, "a password reached the journal")

    # The download: JSON lines within the range asked, none outside it.
    status, headers, body = get("/api/events.jsonl?since=%d&until=%d" % (started, int(time.time())))
    lines = [json.loads(line) for line in body.splitlines()]
    sb.expect(status == 200 and "attachment" in headers.get("Content-Disposition", ""), "download %d %r"
              % (status, headers))
    sb.expect(len(lines) >= len(seen) - 1 and all(started * 10**6 <= e["usec"] for e in lines),
              "the download holds %d lines, the page %d" % (len(lines), len(seen)))
    status, _, before = get("/api/events.jsonl?since=1&until=%d" % (started - 3600))
    sb.expect(status == 200 and before == "", "entries from before the test: %r" % before[:200])
    sb.expect(get("/api/events.jsonl?since=5&until=4")[0] == 400, "a backwards range was served")


if __name__ == "__main__":
    sandbox.main([test_who_did_what_and_the_health_reach_the_journal_the_page_and_the_download])
