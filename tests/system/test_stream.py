"""The live video end to end in the sandbox: the daemon, the camera stand-in
sending H.264 pictures that show their own number, vb-stream, the box's Janus
(with the packaged configuration) and vb-web. Headless Chromium under Selenium
plays the page's video; ffmpeg decodes the standard RTP stream from the SDP
file vb-stream writes. Screenshots go to BUILD/test-artifacts/."""

import http.client
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_web as web  # noqa: E402  (its browser, address and helpers; starts again under the system's Python for Selenium)
import sandbox  # noqa: E402
import standins as si  # noqa: E402

WIDTH, HEIGHT, FPS = 640, 360, 30
STATUS_DIR = "/run/vb-stream"
JANUS_CONFIG = os.path.join(sandbox.REPO, "service", "janus")
JANUS_HTTP_PORT = 8289
PROBE = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "frame_probe.js")).read()


def start_janus(sb):
    """The box's Janus with its packaged configuration. Its ICE leaves loopback
    out, so the sandbox's end of the outside host's veth pair stands in for the
    box's Wi-Fi."""
    janus = shutil.which("janus")
    sb.expect(janus is not None, "janus is missing; run scripts/install-deps")
    sb.outside_host()
    proc = sb.start([janus, "-F", JANUS_CONFIG, "--ice-enforce-list=" + sandbox.BOX_VETH, "--disable-colors"],
                    name="janus")
    sb.expect(sb.wait_until(janus_answers, 30), "janus did not start: " + proc.stdout_text()[-1500:])
    return proc


def janus_answers():
    try:
        connection = http.client.HTTPConnection("127.0.0.1", JANUS_HTTP_PORT, timeout=2)
        connection.request("GET", "/janus/info")
        return connection.getresponse().status == 200
    except OSError:
        return False


def start_stream_box(sb, camera_args=(), stream_args=(), janus=True, web_too=True):
    """Daemon, camera stand-in with H.264 video, vb-stream, and with janus=True
    Janus and vb-web; waits until pictures flow through vb-stream."""
    os.makedirs(STATUS_DIR, exist_ok=True)
    daemon = si.start_daemon(sb, "control_enabled=1\n")
    parts = {"daemon": daemon}
    parts["camera"] = sb.start_tool("vb-camera", "--quiet", "--still", "--video", "%dx%d@%d" % (WIDTH, HEIGHT, FPS),
                                    *camera_args)
    if janus:
        parts["janus"] = start_janus(sb)
    else:
        stream_args = ("--janus-rtp", "off") + tuple(stream_args)
    parts["stream"] = sb.start_tool("vb-stream", *stream_args)
    sb.expect(sb.wait_for(parts["stream"], "vb-stream: pictures flowing", timeout=30),
              "no pictures through vb-stream: " + parts["stream"].stderr_text())
    if janus:
        sb.expect(sb.wait_for(parts["stream"], "the WebRTC server answers", timeout=20), "vb-stream never reached janus")
    if janus and web_too:
        parts["web"] = sb.start_tool("vb-web", "--port", web.PORT)
        sb.expect(sb.wait_for(parts["web"], "vb-web: serving", timeout=15), "vb-web did not start")
    return parts


class Player(web.Browser):
    """A browser with the frame probe in every page it opens."""

    def __init__(self):
        super().__init__()
        self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": PROBE})

    def __enter__(self):
        return self

    def probe(self):
        return self.driver.execute_script("return window.__probe || null")

    def open(self, sb):
        self.driver.get(web.BASE + "/")

    def wait_frames(self, sb, count, timeout, what):
        ok = sb.wait_until(lambda: (self.probe() or {}).get("frames", 0) >= count, timeout)
        if not ok:
            note = self.driver.find_element(web.By.ID, "live-note").text
            raise AssertionError("%s: %r frames; the page says %r" % (what, (self.probe() or {}).get("frames"), note))


def stream_state(driver):
    return web.text_of(driver, "stream-state")


def hud_stream(sb):
    hud = sb.start_tool("vb-hud", "--json")
    sb.expect(si.wait_exit(sb, hud, 10) == 0, "vb-hud --json failed: " + hud.stderr_text())
    return json.loads(hud.stdout_text())["stream"]


def test_the_page_plays_the_live_video(sb):
    parts = start_stream_box(sb)
    with Player() as first:
        first.open(sb)
        first.wait_frames(sb, 1, 30, "the page never showed a picture")
        # Frames presented keep rising, second by second, for five seconds.
        counts = [first.probe()["frames"]]
        for _ in range(5):
            before = time.monotonic()
            sb.wait_until(lambda: time.monotonic() - before >= 1.0, 2)
            counts.append(first.probe()["frames"])
        sb.expect(all(b > a for a, b in zip(counts, counts[1:])), "frames presented stalled: %r" % counts)
        probe = first.probe()
        sb.expect((probe["width"], probe["height"]) == (WIDTH, HEIGHT),
                  "picture %dx%d, the stream is %dx%d" % (probe["width"], probe["height"], WIDTH, HEIGHT))
        # A picture lost while the browser's connection settles spoils the ones
        # after it until the next key frame (vb-camera sends one a second): the
        # numbers are judged from a second after the first picture on.
        settled = probe["shown"][0][1] + 1000
        numbers = [n for n, presented, _ in probe["shown"] if presented >= settled]
        readable = [n for n in numbers if n >= 0]
        sb.expect(len(numbers) >= 2 * FPS and len(readable) >= 0.9 * len(numbers) and readable == sorted(readable),
                  "the pictures' numbers are unreadable or out of order: %r" % numbers)
        web.wait_text(sb, first.driver, "stream-state", lambda t: t == "Live video · 1 browser watching", 15,
                      "the page does not show its own watching")
        sb.expect(hud_stream(sb) == {"running": True, "browsers": 1}, "vb-hud: %r" % hud_stream(sb))
        first.driver.save_screenshot(web.artefact(sb, "stream-page.png"))

        with Player() as second:
            second.open(sb)
            second.wait_frames(sb, 1, 10, "the late browser showed no picture")
            late = second.probe()
            # How soon is bench/stream_latency.py's to measure (the page opened five times on a quiet
            # machine); here a late browser must show a picture at all, and the time is printed.
            print("  late browser: first picture %.0f ms after opening the page" % late["firstPresented"])
            web.wait_text(sb, second.driver, "stream-state", lambda t: t == "Live video · 2 browsers watching", 15,
                          "the page does not count the second browser")
            second.driver.save_screenshot(web.artefact(sb, "stream-page-late.png"))
    # Both gone: Janus lets their sessions go, the status and vb-hud follow.
    sb.expect(sb.wait_until(lambda: b"browsers=0" in si.read_bytes(STATUS_DIR + "/status"), 60),
              "browsers still counted after closing: %r" % si.read_bytes(STATUS_DIR + "/status"))
    sb.expect(hud_stream(sb) == {"running": True, "browsers": 0}, "vb-hud: %r" % hud_stream(sb))
    sb.stop(parts["stream"])
    status, state = web.request("GET", "/api/state")
    sb.expect(status == 200 and state["stream"] == {"running": False, "browsers": 0},
              "after vb-stream stopped: %r" % state.get("stream"))


def test_ffmpeg_plays_the_standard_stream(sb):
    sdp = "/run/vb/stream.sdp"
    parts = start_stream_box(sb, janus=False, stream_args=("--rtp", "127.0.0.1:5600", "--sdp", sdp))
    sb.expect(sb.wait_until(lambda: b"sprop-parameter-sets=" in si.read_bytes(sdp), 10),
              "the SDP file never named the parameter sets: %r" % si.read_bytes(sdp))
    frames = 60
    player = sb.start(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-protocol_whitelist",
                       "file,udp,rtp", "-i", sdp, "-frames:v", str(frames), "-f", "framecrc", "-"], name="ffmpeg")
    sb.expect(si.wait_exit(sb, player, 60) == 0, "ffmpeg: %r %s" % (player.returncode(), player.stderr_text()))
    decoded = [line.split(",") for line in player.stdout_text().splitlines() if line and not line.startswith("#")]
    sb.expect(len(decoded) == frames, "ffmpeg decoded %d of %d pictures" % (len(decoded), frames))
    sizes = {int(f[4]) for f in decoded}
    sb.expect(sizes == {WIDTH * HEIGHT * 3 // 2}, "decoded picture sizes %r" % sizes)
    sb.expect(len({f[5] for f in decoded}) == frames, "ffmpeg decoded repeated pictures")


if __name__ == "__main__":
    sandbox.main([
        test_the_page_plays_the_live_video,
        test_ffmpeg_plays_the_standard_stream,
    ])
