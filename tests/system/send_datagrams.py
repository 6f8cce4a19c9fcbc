"""Plays a peer by hand: sends datagrams to the box from a chosen address and
reports what comes back. Run inside the sandbox (or its outside host):

    python3 send_datagrams.py [--from ADDR] [--repeat N] [--gap S] [--listen S] HOST:PORT ITEM...

ITEM is one datagram:
    empty                   no bytes at all
    hex:5500FF              the bytes given
    video:N                 N bytes of made-up video
    keepalive               the camera's keep-alive query, intact
    keepalive:bad-checksum  the same with its frame checksum wrong
    keepalive:bad-header    the same with its header checksum wrong
    keepalive:bad-length    the same one byte longer than its length byte says
    connect | connect-data-only | disconnect
    gimbal:SEL,A,B | attitude:Q1,Q2,Q3,Q4 | json:TEXT

It prints "sent N", then "reply LENGTH HEX" for each datagram received within
--listen seconds of the last send, then "done replies=N".
"""

import argparse
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import standins as si  # noqa: E402


def encode(item):
    name, _, arg = item.partition(":")
    if name == "empty":
        return b""
    if name == "hex":
        return bytes.fromhex(arg)
    if name == "video":
        return bytes(i & 0xFF for i in range(int(arg)))
    if name == "keepalive":
        frame = bytearray(si.camera_keepalive())
        if arg == "bad-checksum":
            frame[-1] ^= 0xFF
        elif arg == "bad-header":
            frame[3] ^= 0xFF
        elif arg == "bad-length":
            frame.append(0)
        elif arg:
            raise ValueError(item)
        return bytes(frame)
    if name == "connect":
        return si.viewer_connect()
    if name == "connect-data-only":
        return si.viewer_connect(True)
    if name == "disconnect":
        return si.viewer_disconnect()
    if name == "gimbal":
        return si.viewer_gimbal(*(int(v) for v in arg.split(",")))
    if name == "attitude":
        return si.viewer_attitude(*(int(v) for v in arg.split(",")))
    if name == "json":
        return si.viewer_json(arg)
    raise ValueError("unknown item %r" % item)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--from", dest="source", default="0.0.0.0")
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--gap", type=float, default=0.0)
    parser.add_argument("--listen", type=float, default=0.0)
    parser.add_argument("to")
    parser.add_argument("items", nargs="+")
    args = parser.parse_args()
    host, _, port = args.to.rpartition(":")
    datagrams = [encode(item) for item in args.items]
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((args.source, 0))
    sent = 0
    for _ in range(args.repeat):
        for d in datagrams:
            s.sendto(d, (host, int(port)))
            sent += 1
        if args.gap:
            time.sleep(args.gap)
    print("sent %d" % sent, flush=True)
    replies = 0
    deadline = time.monotonic() + args.listen
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        s.settimeout(left)
        try:
            data = s.recv(65536)
        except socket.timeout:
            break
        replies += 1
        print("reply %d %s" % (len(data), data[:32].hex()), flush=True)
    print("done replies=%d" % replies, flush=True)


if __name__ == "__main__":
    main()
