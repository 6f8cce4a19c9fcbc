#!/usr/bin/env python3
"""Builds every state a power cut could leave on the disk the VM wrote (run-vm)
and checks that each starts with the settings of the save under way or of the
one before it.

Usage: replay.py --build BUILD_DIR --dir VM_OUT_DIR [--jobs N]

The write log is in dm-log-writes' format, as qemu's blklogwrites driver
writes it: a super block (magic, version, entry count, sector size), then per
entry a header sector (sector, sector count, flags, data length) and the data.
A flush entry orders the writes: what came before it is on the disk.

States, each on top of the disk before the run:
  - every prefix of the logged writes, in log order;
  - between two flushes, subsets of the writes not flushed yet, on top of all
    that was flushed: every subset when there are at most 10, otherwise every
    subset of at most 2, every one that leaves out at most 2, and 256 drawn at
    random (fixed seed); a subset with two writes to one sector is also laid
    down in reverse order, the older write landing last;
  - every write of several sectors torn in two after its first sector, in its
    middle and before its last sector: the head without the tail, and the
    tail without the head.
Each distinct disk image then goes through what a start goes through:
fsck.fat -a (as systemd-fsck at boot), the boot partition's files read with
mtools, the unit's prepare step (the daemon's --pick-config) and the daemon's
loader (powercut identify). The markers the VM writes beyond the file system
tell which save was under way.
"""

import argparse
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MAGIC = 0x6A736677736872
FLUSH, FUA, DISCARD = 1, 2, 4
BOOT_NAME = "vantagebridge-cable.conf"
SMALL_EPOCH = 10
DRAWN_SUBSETS = 256


class Write:
    def __init__(self, index, sector, sectors):
        self.index = index
        self.sector = sector
        self.sectors = sectors  # one bytes object per sector

    def sector_numbers(self):
        return set(range(self.sector, self.sector + len(self.sectors)))


def read_log(path, marker_from):
    """The log as a list of events: ("write", Write), ("flush",), ("marker", text)."""
    with open(path, "rb") as f:
        data = f.read()
    magic, version, count, size = struct.unpack_from("<QQQI", data, 0)
    if magic != MAGIC or version != 1:
        raise SystemExit("%s: not a write log" % path)
    events = []
    offset = size
    for index in range(count):
        sector, sectors, flags, _ = struct.unpack_from("<QQQQ", data, offset)
        offset += size
        payload = b"" if flags & DISCARD else data[offset:offset + sectors * size]
        offset += len(payload)
        if payload and sector >= marker_from:
            events.append(("marker", payload.split(b"\0")[0].decode()))
        elif flags & DISCARD:
            events.append(("write", Write(index, sector, [bytes(size)] * sectors)))
        elif payload:
            events.append(("write", Write(index, sector, [payload[i:i + size] for i in range(0, len(payload), size)])))
        if flags & (FLUSH | FUA):
            events.append(("flush",))
    return events


def laid_down(base, writes):
    """The overlay (sector -> bytes) of base with the writes laid down in order."""
    overlay = dict(base)
    for write in writes:
        for i, block in enumerate(write.sectors):
            overlay[write.sector + i] = block
    return overlay


def subsets(count, rng):
    if count <= SMALL_EPOCH:
        return [[i for i in range(count) if mask >> i & 1] for mask in range(1, 1 << count)]
    chosen = set()
    for a in range(count):
        chosen.add((a,))
        chosen.add(tuple(i for i in range(count) if i != a))
        for b in range(a + 1, count):
            chosen.add((a, b))
            chosen.add(tuple(i for i in range(count) if i not in (a, b)))
    for _ in range(DRAWN_SUBSETS):
        chosen.add(tuple(i for i in range(count) if rng.random() < 0.5))
    return [list(s) for s in chosen if s]


def states(events):
    """Yields (description, overlay, done): done is the number of saves
    finished before the state's writes began."""
    rng = random.Random(1)
    durable, applied, pending = {}, {}, []
    done = 0
    yield "before any write", {}, 0
    for event in events:
        if event[0] == "marker":
            match = re.match(r"vb-powercut done (\d+)", event[1])
            if match:
                done = int(match.group(1))
            continue
        if event[0] == "flush":
            for picks in subsets(len(pending), rng) if len(pending) > 1 else []:
                chosen = [pending[i] for i in picks]
                where = "writes %s of the epoch after %d saves" % ([w.index for w in chosen], done)
                yield where, laid_down(durable, chosen), done
                overlapping = sum(len(w.sectors) for w in chosen) > len(set().union(*(w.sector_numbers() for w in chosen)))
                if overlapping:
                    yield where + ", reversed", laid_down(durable, reversed(chosen)), done
            durable, pending = dict(applied), []
            continue
        write = event[1]
        for cut in sorted({1, len(write.sectors) // 2, len(write.sectors) - 1} - {0, len(write.sectors)}):
            head = Write(write.index, write.sector, write.sectors[:cut])
            tail = Write(write.index, write.sector + cut, write.sectors[cut:])
            yield "write %d torn after sector %d: head" % (write.index, cut), laid_down(applied, [head]), done
            yield "write %d torn after sector %d: tail" % (write.index, cut), laid_down(applied, [tail]), done
        applied = laid_down(applied, [write])
        pending.append(write)
        yield "prefix through write %d" % write.index, dict(applied), done


class Disk:
    """The disk before the run, kept as its non-zero blocks, to write a state
    image quickly."""

    def __init__(self, path, sector_bytes):
        self.size = os.path.getsize(path)
        self.sector_bytes = sector_bytes
        self.blocks = []
        with open(path, "rb") as f:
            offset = 0
            while True:
                block = f.read(4096)
                if not block:
                    break
                if block.count(0) != len(block):
                    self.blocks.append((offset, block))
                offset += len(block)

    def write_state(self, path, overlay):
        with open(path, "wb") as f:
            f.truncate(self.size)
            for offset, block in self.blocks:
                f.seek(offset)
                f.write(block)
            for sector in sorted(overlay):
                f.seek(sector * self.sector_bytes)
                f.write(overlay[sector])


def check_state(args, disk, scratch, overlay):
    """Returns (save index the start gets, file picked, fsck exit code)."""
    image = os.path.join(scratch, "disk.img")
    disk.write_state(image, overlay)
    fsck = subprocess.run(["fsck.fat", "-a", image], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    boot = os.path.join(scratch, "boot")
    shutil.rmtree(boot, ignore_errors=True)
    os.makedirs(boot)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    subprocess.run(["mcopy", "-n", "-i", image, "::/%s*" % BOOT_NAME, boot + "/"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    packaged = os.path.join(REPO, "vantagebridge.conf")
    work = os.path.join(scratch, "work")
    prepare = subprocess.run(
        ["env", "VB_BOOT_CONF=" + os.path.join(boot, BOOT_NAME), "VB_RUN_COPY=" + os.path.join(scratch, "no-run-copy"),
         "VB_DEFAULT_CONF=" + packaged, "VB_DAEMON=" + os.path.join(args.build, "vantagebridge"),
         "VB_SCRIPTS_DIR=" + boot, os.path.join(REPO, "service", "vantagebridge-prepare"), work],
        capture_output=True, text=True)
    picked = re.search(r"settings from (\S+)", prepare.stderr)
    picked = "none" if picked is None else "packaged" if picked.group(1) == packaged else \
        os.path.basename(picked.group(1)).replace(BOOT_NAME, "boot file")
    identify = subprocess.run(
        [os.path.join(args.build, "powercut"), "identify", os.path.join(work, "vantagebridge.conf"),
         os.path.join(boot, BOOT_NAME), packaged, str(args.saves)], capture_output=True, text=True)
    try:
        index = int(identify.stdout.split()[0])
    except (IndexError, ValueError):
        index = None
    return index, picked, fsck.returncode, prepare.stderr + identify.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--dir", required=True, help="run-vm's output folder")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    with open(os.path.join(args.dir, "layout")) as f:
        layout = dict(line.strip().split("=") for line in f if "=" in line)
    args.saves = int(layout["saves"])
    started = time.monotonic()
    events = read_log(os.path.join(args.dir, "writes.log"), int(layout["fs_sectors"]))
    disk = Disk(os.path.join(args.dir, "disk0.img"), int(layout["sector_bytes"]))

    tried, distinct = 0, {}
    for where, overlay, done in states(events):
        tried += 1
        key = hashlib.sha1(b"".join(struct.pack("<Q", s) + overlay[s] for s in sorted(overlay))).digest()
        distinct.setdefault(key, (where, overlay, set()))[2].add(done)

    scratch_root = tempfile.mkdtemp(prefix="vb-powercut-")
    free = [os.path.join(scratch_root, str(i)) for i in range(args.jobs)]
    for folder in free:
        os.makedirs(folder)

    def run(item):
        scratch = free.pop()
        try:
            return item, check_state(args, disk, scratch, item[1])
        finally:
            free.append(scratch)

    lost, repaired, picks = [], 0, {}
    try:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            for (where, _, dones), (index, picked, fsck_code, said) in pool.map(run, distinct.values()):
                repaired += fsck_code != 0
                picks[picked] = picks.get(picked, 0) + 1
                if index is None or any(index not in (done, done + 1) for done in dones):
                    lost.append("%s: settings of save %s, wanted %s\n%s" % (
                        where, index, " or ".join("%d" % d for d in sorted({d for done in dones for d in (done, done + 1)})),
                        said.strip()))
    finally:
        shutil.rmtree(scratch_root, ignore_errors=True)

    for line in lost[:10]:
        print("   lost: " + line)
    print("   power cuts: %d states tried, %d distinct disks, %d lost settings; fsck.fat repaired %d; "
          "settings from %s; %.0f s" % (tried, len(distinct), len(lost), repaired,
                                        ", ".join("%s %d" % kv for kv in sorted(picks.items())),
                                        time.monotonic() - started))
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
