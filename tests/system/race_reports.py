"""Sanitizers' reports, read back from the files their log_path writes (one
per process: PREFIX.PID). ThreadSanitizer's are grouped by the pair of project
lines involved; AddressSanitizer's, LeakSanitizer's and
UndefinedBehaviorSanitizer's by their headline and first project line.

    python3 tests/system/race_reports.py DIR [DIR ...]

prints one entry per distinct report (kind, the project line of each access
with its thread, the location, how often and in which files it was seen) and
exits 1 when any report file exists, 0 when there are none. A file that holds
no recognisable report (a fatal error of the runtime, say) counts too and is
shown as it is.
"""

import os
import re
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

_START = re.compile(r"^WARNING: ThreadSanitizer: (.*?)(?: \(pid=\d+\))?$")
_ACCESS = re.compile(r"^  (?:(Previous|Mutex|Atomic) )?.*?(?: by (main thread|thread T\d+))"
                     r"(?: \(mutexes: .*\))?:$")
_FRAME = re.compile(r"^\s+#\d+ (.*?) (/\S+?):(\d+)(?::\d+)? \(")
# AddressSanitizer's and UndefinedBehaviorSanitizer's frames: "#0 0x... in F /path:L:C".
_ASAN_FRAME = re.compile(r"^\s+#\d+ 0x[0-9a-f]+ in (.*?) (/\S+?):(\d+)(?::\d+)?$")
_ASAN_START = re.compile(r"^(?:==\d+==)?ERROR: (AddressSanitizer|LeakSanitizer): (.*)$|^\S+: runtime error: (.*)$")
_THREAD = re.compile(r"^  Thread (T\d+) (?:'([^']*)' )?\(.*\) created by (main thread|thread T\d+) at:")


class Report:
    def __init__(self, kind, tool="ThreadSanitizer"):
        self.kind = kind
        self.tool = tool
        self.accesses = []  # (headline, thread, project frame or None, first frame or None)
        self.location = ""
        self.threads = {}  # T2 -> name
        self.files = []

    def key(self):
        return (self.kind, tuple(sorted(a[2] or a[3] or a[0] for a in self.accesses)))


def _project_frame(frames):
    for function, path, line in frames:
        if path.startswith(REPO + "/") and "/usr/" not in path:
            return "%s:%s (%s)" % (os.path.relpath(path, REPO), line, _short(function))
    return None


def _short(function):
    function = re.sub(r"\(anonymous namespace\)::", "", function)
    function = re.sub(r"\(.*", "", function)
    return function[:80]


def _source_line(project):
    """The text of a project line named "path:line (function)", when it can be read."""
    found = re.match(r"(\S+):(\d+) ", project or "")
    if not found:
        return ""
    try:
        with open(os.path.join(REPO, found.group(1)), errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        return ""
    number = int(found.group(2))
    return lines[number - 1].strip()[:100] if 0 < number <= len(lines) else ""


def parse(text):
    """The reports in one file's text, and the text that was not part of any."""
    reports, loose = [], []
    report, frames, access = None, [], None

    def close_access():
        nonlocal access, frames
        if report is not None and access is not None:
            first = "%s:%s (%s)" % (os.path.basename(frames[0][1]), frames[0][2], _short(frames[0][0])) \
                if frames else None
            report.accesses.append((access[0], access[1], _project_frame(frames), first))
        access, frames = None, []

    for line in text.splitlines():
        started = _START.match(line)
        if started:
            close_access()
            report = Report(started.group(1))
            reports.append(report)
            continue
        if report is None:
            if line.strip() and not line.startswith("=====") and not line.startswith("ThreadSanitizer: reported"):
                loose.append(line)
            continue
        if line.startswith("SUMMARY:"):
            close_access()
            report = None
            continue
        frame = _FRAME.match(line)
        if frame and access is not None:
            frames.append(frame.groups())
            continue
        if frame is None and line.strip().startswith("#") and access is not None:
            continue  # a frame without a file: a library's
        thread = _THREAD.match(line)
        close_access() if (thread or line.startswith("  Location is") or not line.strip()) else None
        if thread:
            report.threads[thread.group(1)] = thread.group(2) or ""
            continue
        if line.startswith("  Location is"):
            report.location = line.strip()
            continue
        described = _ACCESS.match(line)
        if described and "created by" not in line:
            close_access()
            access = (line.strip().rstrip(":"), described.group(2))
    return reports, loose


def parse_memory_reports(text):
    """AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer reports:
    the headline (addresses and sizes left out) and the first project frame."""
    reports = []
    lines = text.splitlines()
    for i, line in enumerate(lines):
        started = _ASAN_START.match(line)
        if not started:
            continue
        tool = started.group(1) or "UndefinedBehaviorSanitizer"
        kind = re.sub(r"0x[0-9a-f]+|\d+ byte\(s\)|\(pid=\d+\)| on address| at pc.*", "", started.group(2) or
                      started.group(3)).strip()
        report = Report(kind, tool)
        frames = []
        for after in lines[i + 1:]:
            if _ASAN_START.match(after) or after.startswith("SUMMARY:"):
                break
            frame = _ASAN_FRAME.match(after)
            if frame:
                frames.append(frame.groups())
        first = "%s:%s (%s)" % (os.path.basename(frames[0][1]), frames[0][2], _short(frames[0][0])) \
            if frames else None
        if tool == "UndefinedBehaviorSanitizer":
            place = re.match(r"^(\S+?):(\d+):", line)
            if place and place.group(1).startswith(REPO + "/"):
                first = "%s:%s" % (os.path.relpath(place.group(1), REPO), place.group(2))
        report.accesses.append((kind, None, _project_frame(frames), first))
        reports.append(report)
    return reports


def collect(paths):
    """Distinct reports found in the files under paths, and files without any."""
    groups, odd = {}, []
    for path in paths:
        files = [path] if os.path.isfile(path) else sorted(
            os.path.join(folder, name) for folder, _, names in os.walk(path) for name in names)
        for name in files:
            with open(name, errors="replace") as f:
                text = f.read()
            reports, loose = parse(text)
            if not reports:
                reports = parse_memory_reports(text)
            if not reports:
                odd.append((name, loose or text.splitlines()[:20]))
            for r in reports:
                r.files.append(name)
                if r.key() in groups:
                    groups[r.key()].files.append(name)
                else:
                    groups[r.key()] = r
    return list(groups.values()), odd


def describe(groups, odd, out):
    for r in sorted(groups, key=lambda g: g.key()):
        out.write("%s: %s, seen %d time(s)\n" % (r.tool, r.kind, len(r.files)))
        base = re.search(r" of size \d+ at (0x[0-9a-f]+)", r.location)
        for headline, thread, project, first in r.accesses:
            name = r.threads.get(thread.split()[-1], "") if thread else ""
            who = "%s%s" % (thread or "?", " '%s'" % name if name else "")
            address = re.search(r" at (0x[0-9a-f]+)", headline)
            offset = ""
            if base and address:
                offset = " (offset %d in the location)" % (int(address.group(1), 16) - int(base.group(1), 16))
            headline = re.sub(r" at 0x[0-9a-f]+", "", headline)
            if thread:
                headline = headline.replace(" by " + thread, " by " + who)
            out.write("  %s%s\n      at %s\n" % (headline, offset, project or first or "(no frame)"))
            code = _source_line(project)
            if code:
                out.write("         %s\n" % code)
        if r.location:
            out.write("  %s\n" % r.location)
        out.write("  first in %s\n" % r.files[0])
    for name, lines in odd:
        out.write("sanitizer output without a report in %s:\n" % name)
        for line in lines:
            out.write("  %s\n" % line)


def main(argv):
    groups, odd = collect(argv)
    describe(groups, odd, sys.stdout)
    count = len(groups) + len(odd)
    print("%d distinct sanitizer report(s)" % count)
    return 1 if count else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
