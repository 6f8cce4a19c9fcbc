"""Against a ThreadSanitizer build, a race in any program a test starts fails
that test, with both racing lines named, even when everything the test
checked held; against an AddressSanitizer build, a use after free does the
same. Other builds have nothing to check here."""

import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402

# Two threads write one counter with no order between them: line 6 and line 9.
RACER = """\
#include <pthread.h>
#include <unistd.h>
static int counter;
static void* Bump(void*) {
  for (int i = 0; i < 1000; ++i) {
    counter = counter + 1;
    usleep(10);
  }
  return nullptr;
}
int main() {
  pthread_t other;
  pthread_create(&other, nullptr, Bump, nullptr);
  Bump(nullptr);
  pthread_join(other, nullptr);
  return counter > 0 ? 0 : 1;
}
"""


# Reads a block it freed: line 5.
USE_AFTER_FREE = """\
#include <cstdlib>
int main() {
  volatile int* block = static_cast<int*>(std::malloc(16));
  std::free(const_cast<int*>(block));
  return block[1];
}
"""

# Per instrumented build: the program, its flag, and what the failure must name.
FAULTY = {
    "ThreadSanitizer": (RACER, "-fsanitize=thread", ["ThreadSanitizer reported", "data race", "racer.cpp:6", "Bump"]),
    "AddressSanitizer or UndefinedBehaviorSanitizer": (
        USE_AFTER_FREE, "-fsanitize=address", ["heap-use-after-free", "racer.cpp:5"]),
}


def compiler(build_dir):
    """The C++ compiler the build used, so the racer gets the same runtime."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_CXX_COMPILER:"):
                return line.split("=", 1)[1].strip()
    return "c++"


def test_a_race_in_a_started_program_fails_the_test(sb):
    if not sb.race_reports:
        return
    program, flag, named = FAULTY[sb.sanitizer_name]
    work = tempfile.mkdtemp(prefix="vb-racer-")
    kept = sb.race_reports
    try:
        source = os.path.join(work, "racer.cpp")
        with open(source, "w") as f:
            f.write(program)
        racer = os.path.join(work, "racer")
        subprocess.run([compiler(sb.build_dir), "-g", "-O1", flag, source, "-o", racer,
                        "-lpthread"], check=True)

        def racing_but_otherwise_fine(inner):
            proc = inner.start([racer])
            inner.expect(inner.wait_until(lambda: not proc.running(), timeout=60), "racer still running")
            inner.expect(proc.returncode() is not None, "racer exit %r" % proc.returncode())

        # Its report goes to a folder of its own, so the stage's scan of the
        # build's reports never sees this deliberate race.
        sb.race_reports = os.path.join(work, "reports")
        os.makedirs(sb.race_reports)
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            passed = sandbox.run_test(sb, racing_but_otherwise_fine)
        text = out.getvalue()
        sb.expect(not passed, "the race passed silently: %r" % text)
        sb.expect("FAIL racing_but_otherwise_fine: %s reported" % sb.sanitizer_name in text, text)
        missing = [n for n in named if n not in text]
        sb.expect(not missing, "%s not named: %r" % (missing, text))
        sb.expect(sb.new_race_reports() == [], "reports were not taken by the failed test")
    finally:
        sb.race_reports = kept
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sandbox.main([test_a_race_in_a_started_program_fails_the_test])
