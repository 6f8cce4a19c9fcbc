"""vb-viewer --forward into a real decoder, in the sandbox: a real H.264
encoder (ffmpeg) streams to the box's video port as the camera does, the box
relays it to a viewer stand-in, which forwards the bare payloads to a UDP
port where a second ffmpeg decodes whole frames."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

WIDTH, HEIGHT, FRAMES = 320, 240, 50
FORWARD_PORT = 5600


def test_forwarded_stream_decodes(sb):
    ffmpeg = shutil.which("ffmpeg")
    sb.expect(ffmpeg is not None, "ffmpeg is missing; run scripts/install-deps")
    daemon = si.start_daemon(sb, ready="Init FTP")
    # The receiver a user would run, printing one checksum line per decoded frame.
    receiver = sb.start([ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-f", "h264",
                         "-i", "udp://127.0.0.1:%d?timeout=60000000&buffer_size=4000000" % FORWARD_PORT,
                         "-frames:v", str(FRAMES), "-f", "framecrc", "-"], name="receiver")
    viewer = sb.start_tool("vb-viewer", "--quiet-video", "--forward", "127.0.0.1:%d" % FORWARD_PORT)
    sb.expect(sb.wait_for(viewer, "ack", stream="stdout", timeout=20), "viewer not registered")
    sb.expect("forwarding video to 127.0.0.1:%d" % FORWARD_PORT in viewer.stdout_text(), "no forwarding line")
    # The camera's part: a real encoder sending its stream to the box's video port, over the camera link.
    link = sb.camera_link()
    camera = link.start([ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-re",
                       "-f", "lavfi", "-i", "testsrc=size=%dx%d:rate=25" % (WIDTH, HEIGHT), "-t", "30",
                       "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g", "10", "-bf", "0",
                       "-f", "h264", "udp://%s:5000?pkt_size=1300" % link.box_address], name="camera")
    sb.expect(sb.wait_until(lambda: not receiver.running(), timeout=90),
              "receiver still waiting; viewer: %r" % viewer.stdout_text()[-300:])
    sb.stop(camera)
    sb.expect(receiver.returncode() == 0, "receiver exit %r: %s" % (receiver.returncode(), receiver.stderr_text()))
    frames = [line.split(",") for line in receiver.stdout_text().splitlines() if line and not line.startswith("#")]
    sb.expect(len(frames) == FRAMES, "%d frames decoded" % len(frames))
    sizes = {int(f[4]) for f in frames}
    sb.expect(sizes == {WIDTH * HEIGHT * 3 // 2}, "decoded frame sizes %r" % sizes)
    sb.expect("video connected" in daemon.stderr_text(), "the box never saw the video")
    sb.stop(viewer)
    summary = [line for line in viewer.stdout_text().splitlines() if line.startswith("summary")]
    sb.expect(summary and " forwarded=" in summary[0], "summary %r" % summary)
    counts = dict(part.split("=") for part in summary[0].split() if "=" in part)
    sb.expect(counts["forwarded"] == counts["video"] and int(counts["video"]) > 0,
              "forwarded %s of %s video datagrams" % (counts["forwarded"], counts["video"]))


def test_forward_refuses_data_only_and_bad_targets(sb):
    cases = [
        (["--forward", "127.0.0.1:5600", "--data-only"], "needs the video"),
        (["--forward", "127.0.0.1"], "bad option --forward"),
        (["--forward", "127.0.0.1:0"], "bad option --forward"),
        (["--forward", "no.such.host.invalid:5600"], "cannot resolve"),
    ]
    for args, said in cases:
        proc = sb.start_tool("vb-viewer", *args)
        sb.expect(sb.wait_until(lambda: not proc.running(), timeout=20), "%r still running" % args)
        sb.expect(proc.returncode() == 2, "%r: exit %r" % (args, proc.returncode()))
        sb.expect(said in proc.stderr_text(), "%r: %r" % (args, proc.stderr_text()))


TESTS = [
    test_forwarded_stream_decodes,
    test_forward_refuses_data_only_and_bad_targets,
]

if __name__ == "__main__":
    sandbox.main(TESTS)
