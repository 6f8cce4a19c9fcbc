"""The camera link end to end: the real daemon in the sandbox with the camera
stand-in (vb-camera) and two viewer stand-ins (vb-viewer, one full, one data
only). The link comes up, the box answers the camera's queries byte for byte,
telemetry reaches both viewers, video only the full one, and the link states
follow the camera's coming and going."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

OSMO = "control_enabled=1\ndevice_mode=0\n"
INSPIRE = "control_enabled=1\ndevice_mode=1\n"


def answers(camera):
    return [l for l in si.lines(camera) if l.startswith("answer ")]


def check_answers(sb, camera, names):
    # Each query round is answered: every name shows "answer ok" at least twice
    # (two rounds), and nothing is ever a mismatch or missing.
    def done(ls):
        return all(sum(1 for l in ls if l.startswith("answer ok %s " % n)) >= 2 for n in names)

    seen, ok = si.wait_lines(camera, done, timeout=30)
    bad = [l for l in seen if l.startswith("answer mismatch") or l.startswith("answer missing")]
    sb.expect(not bad, "wrong answers: %r" % bad[:5])
    sb.expect(ok, "answers not all seen: %r" % [l for l in seen if l.startswith("answer")][-12:])


def test_osmo_link_comes_up_and_answers_are_exact(sb):
    daemon = si.start_daemon(sb, OSMO)
    sb.expect("Mode: Osmo\n" in daemon.stderr_text(), "no Osmo mode line")
    camera = sb.start_tool("vb-camera", "--mode", "osmo", "--quiet", "--query-every", "2")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "no 'data connected'")
    check_answers(sb, camera, ["identity-A", "identity-B", "probe-G", "probe-S", "probe-U", "keepalive-K"])
    sb.expect(sb.wait_for(daemon, "Init Osmo mode\n", timeout=5), "no 'Init Osmo mode' line")
    sb.expect(daemon.stderr_text().count("data connected\n") == 1, "link came up more than once")


def test_inspire_answers_are_exact(sb):
    daemon = si.start_daemon(sb, INSPIRE)
    sb.expect("Mode: Inspire\n" in daemon.stderr_text(), "no Inspire mode line")
    camera = sb.start_tool("vb-camera", "--mode", "inspire", "--quiet", "--query-every", "2")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "no 'data connected'")
    check_answers(sb, camera, ["identity-C", "identity-D", "probe-P", "keepalive-K2"])
    err = daemon.stderr_text()
    sb.expect("Init Inspire mode DM368\n" in err and "Init Inspire mode Ambarella\n" in err,
              "identity log lines missing: %r" % err[-400:])


def test_a_camera_in_the_other_mode_sees_wrong_answers(sb):
    # The checker must notice when the box answers as the other kind of unit.
    si.start_daemon(sb, OSMO)
    camera = sb.start_tool("vb-camera", "--mode", "inspire", "--quiet", "--no-telemetry")
    line = si.wait_line(camera, "answer mismatch identity-C", timeout=15)
    sb.expect(line is not None, "no mismatch reported: %r" % answers(camera)[:6])


def test_telemetry_reaches_both_viewers_and_video_only_the_full_one(sb):
    daemon = si.start_daemon(sb, OSMO)
    full = si.start_viewer(sb, "--stamp")
    data_only = si.start_viewer(sb, "--stamp", "--data-only")
    err = daemon.stderr_text()
    sb.expect(err.count("client connected from 127.0.0.1:") == 2, "connect log lines: %r" % err)
    sb.expect("(only data)\n" in err, "data-only client not logged as such")
    sb.start_tool("vb-camera", "--quiet", "--video-kbps", "400")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=15), "no 'video connected'")
    kinds = ["attitude pan=", "attitude-raw ", "orientation locked=", "camera-status ", "settings shutter=",
             "focus mode=", "focus-point ", "focus-bytes ", "datablock 64", "zoom digital=",
             "link data state=2", "link video state=2"]
    for viewer in (full, data_only):
        seen, ok = si.wait_lines(viewer, lambda ls: all(any(l.startswith(k) for l in ls) for k in kinds),
                                 timeout=20)
        missing = [k for k in kinds if not any(l.startswith(k) for l in seen)]
        sb.expect(ok, "viewer missed %r" % missing)
    # A few seconds of video: the full viewer counts it, the data-only one never does.
    sb.expect(sb.wait_until(lambda: sum(d for d, _ in si.video_rates(full)) >= 60, timeout=20),
              "full viewer got too little video: %r" % si.video_rates(full)[-5:])
    rates = [r for r in si.video_rates(full) if r[0] > 0]
    sb.expect(all(b == 1400 * d for d, b in rates), "video datagrams not forwarded whole: %r" % rates[:5])
    sb.expect(all(d == 0 for d, _ in si.video_rates(data_only)),
              "data-only viewer got video: %r" % si.video_rates(data_only))
    sb.expect(si.count_prefix(data_only, "link video state=2") > 0, "data-only viewer not told of the video")

    # A viewer that ends says so; the box forgets it and the client count follows.
    port = si.lines(data_only)[0].rsplit(" ", 1)[1]
    mark = len(si.lines(full))
    sb.stop(data_only)
    sb.expect(sb.wait_for(daemon, "client 127.0.0.1:%s removed\n" % port, timeout=10), "no removal line")
    sb.expect(si.wait_line(full, "status flags=0x11 clients=1 ", since=mark, timeout=10),
              "client count did not drop to 1")


# The status message's rhythm, then the links' states as the camera comes and goes.
def test_status_rhythm_and_links_follow_the_camera(sb):
    daemon = si.start_daemon(sb, OSMO)
    viewer = si.start_viewer(sb, "--stamp")
    sb.expect(sb.wait_until(lambda: len(si.stamped(viewer, "status flags=")) >= 30, timeout=30),
              "too few status messages: %d" % len(si.stamped(viewer, "status flags=")))
    times = si.stamped(viewer, "status flags=")
    # Three status messages 100 ms apart, then a 500 ms pause: bursts split at
    # gaps well above 100 ms and well below 600 ms.
    bursts = [1]
    for a, b in zip(times, times[1:]):
        if b - a > 0.35:
            bursts.append(1)
        else:
            bursts[-1] += 1
    whole = bursts[1:-1]  # the first and last may be cut by the viewer's start and the reading
    sb.expect(len(whole) >= 6, "too few cycles: %r" % bursts)
    sb.expect(max(whole) <= 3, "more than three status messages in a cycle: %r" % bursts)
    sb.expect(sum(1 for n in whole if n == 3) >= 0.75 * len(whole), "cycles without three messages: %r" % bursts)
    # Bit 0 always set; one registered client; no RC input; no camera.
    sb.expect(any(l.startswith("status flags=0x01 clients=1 rc=0 ") for l in si.lines(viewer)),
              "status lines %r" % [l for l in si.lines(viewer) if l.startswith("status")][-3:])
    # Before any camera: both links reported down, once a second each.
    seen, ok = si.wait_lines(viewer, lambda ls: sum(l.startswith("link data state=0") for l in ls) >= 2 and
                             sum(l.startswith("link video state=0") for l in ls) >= 2, timeout=15)
    sb.expect(ok, "link states before the camera: %r" % [l for l in seen if l.startswith("link")])
    sb.expect(not any(l.startswith("link") and "state=2" in l for l in seen), "a link was up without a camera")

    camera = sb.start_tool("vb-camera", "--quiet", "--video-kbps", "200")
    sb.expect(sb.wait_for(daemon, "video connected\n", timeout=15), "no 'video connected'")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "no 'data connected'")
    mark = len(si.lines(viewer))
    sb.expect(si.wait_line(viewer, "link video state=2", since=mark, timeout=10), "viewer not told video is up")
    sb.expect(si.wait_line(viewer, "link data state=2", since=mark, timeout=10), "viewer not told data is up")
    sb.expect("video disconnected\n" not in daemon.stderr_text(), "video reported lost while it flowed")

    sb.stop(camera)
    stopped = time.monotonic()
    mark = len(si.lines(viewer))
    sb.expect(sb.wait_for(daemon, "data disconnected\n", timeout=15), "no 'data disconnected'")
    data_lost = time.monotonic() - stopped
    sb.expect(sb.wait_for(daemon, "video disconnected\n", timeout=15), "no 'video disconnected'")
    video_lost = time.monotonic() - stopped
    # Never before the silence the box waits for (more than 1 s of data, 3 s of
    # video); how late is left to the generous time-outs above.
    sb.expect(data_lost > 0.9, "data link declared lost %.2f s after the camera stopped" % data_lost)
    sb.expect(video_lost > 2.9, "video declared lost %.2f s after the camera stopped" % video_lost)
    sb.expect(si.wait_line(viewer, "link video state=0", since=mark, timeout=10), "viewer not told video is down")
    sb.expect(si.wait_line(viewer, "link data state=0", since=mark, timeout=10), "viewer not told data is down")
    err = daemon.stderr_text()
    sb.expect(err.index("video connected\n") < err.index("video disconnected\n"), "video lines out of order")
    sb.expect(err.count("video connected\n") == 1 and err.count("video disconnected\n") == 1,
              "video link flapped: %r" % err[-600:])

    # The camera comes back: both links come up again.
    sb.start_tool("vb-camera", "--quiet", "--video-kbps", "200")
    sb.expect(sb.wait_until(lambda: daemon.stderr_text().count("video connected\n") == 2, timeout=15),
              "video did not come back")
    sb.expect(sb.wait_until(lambda: daemon.stderr_text().count("data connected\n") == 2, timeout=15),
              "data link did not come back")


if __name__ == "__main__":
    sandbox.main([
        test_osmo_link_comes_up_and_answers_are_exact,
        test_inspire_answers_are_exact,
        test_a_camera_in_the_other_mode_sees_wrong_answers,
        test_telemetry_reaches_both_viewers_and_video_only_the_full_one,
        test_status_rhythm_and_links_follow_the_camera,
    ])
