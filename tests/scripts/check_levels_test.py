#!/usr/bin/env python3
"""scripts/check-levels against the real tree and against copies of it with
one bad include planted each."""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

TOP = pathlib.Path(__file__).resolve().parent.parent.parent
SCRIPT = TOP / "scripts" / "check-levels"
FLOORS = TOP / "docs" / "architecture.md"


def run(src):
    result = subprocess.run([sys.executable, str(SCRIPT), str(src), str(FLOORS)], capture_output=True, text=True)
    return result.returncode, result.stdout


class CheckLevels(unittest.TestCase):
    def test_the_tree_keeps_its_floors(self):
        code, out = run(TOP / "src")
        self.assertEqual((code, out), (0, ""))

    def test_planted_includes_are_refused(self):
        # (files to add or extend, expected fault)
        cases = [
            ({"records/x.h": '#include "senders/viewer_sender.h"\n'},
             'records/x.h:1: records/ includes senders/viewer_sender.h, a floor above it'),
            ({"camera/x.cpp": '#include "clients/mailbox.h"\n'},
             'camera/x.cpp:1: camera/ includes clients/mailbox.h, another folder of its floor'),
            ({"common/x.cpp": '#include "../platform/clock.h"\n'},
             'common/x.cpp:1: common/ includes ../platform/clock.h, another folder of its floor'),
            ({"media/a.h": '#include "media/b.h"\n', "media/b.cpp": '#include "a.h"\n'},
             "include loop: media/a -> media/b -> media/a"),
            ({"records/a.h": '#include "records/b.h"\n', "records/b.h": '#include "records/c.h"\n',
              "records/c.cpp": '#include "records/a.h"\n'},
             "include loop: records/a -> records/b -> records/c -> records/a"),
            ({"gadgets/x.h": "\n"}, "gadgets/x.h: folder gadgets/ has no floor"),
        ]
        for files, fault in cases:
            with self.subTest(fault=fault), tempfile.TemporaryDirectory() as tmp:
                src = pathlib.Path(tmp) / "src"
                shutil.copytree(TOP / "src", src)
                for name, text in files.items():
                    (src / name).parent.mkdir(exist_ok=True)
                    with open(src / name, "a") as f:
                        f.write(text)
                code, out = run(src)
                self.assertEqual(code, 1)
                self.assertIn(fault + "\n", out)
                self.assertEqual(len(out.splitlines()), 2, out)  # the fault and the count


if __name__ == "__main__":
    unittest.main()
