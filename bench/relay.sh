#!/usr/bin/env bash
# relay.sh - the reference relay harness against the real daemon's video bridge.
#
#   bench/relay.sh [RUN.SH OPTIONS...]      e.g. bench/relay.sh -r "2000 5000 10000" -d 3
#
# The harness is copied to a temporary folder and built there; the whole run
# (daemon, load generator, sinks) then happens inside the project's sandbox:
# private mount and network namespaces with tmpfs over /boot, /run and
# /dev/shm and recording stubs for the shell commands the daemon runs. Only
# the sandbox's own loopback carries traffic. Needs root and a built daemon.
#
# Environment: BUILD (default build), HARNESS (default ../shared/bench/relay
# beside the repository, else /work/shared/bench/relay), K (default 20),
# OUT (default bench/results/relay-TIMESTAMP: rows.tsv and table.txt land there).
set -euo pipefail
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${BUILD:-$REPO/build}" && pwd)
K=${K:-20}
if [[ -z ${HARNESS:-} ]]; then
  HARNESS=$REPO/../shared/bench/relay
  [[ -d $HARNESS ]] || HARNESS=/work/shared/bench/relay
fi
[[ -x $BUILD/vantagebridge ]] || { echo "relay.sh: no daemon at $BUILD/vantagebridge; build it first" >&2; exit 1; }
[[ -f $HARNESS/run.sh ]] || { echo "relay.sh: no harness at $HARNESS" >&2; exit 1; }
OUT=${OUT:-$REPO/bench/results/relay-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$OUT"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -r "$HARNESS" "$WORK/relay"
make -s -C "$WORK/relay" loadgen sinks

# The sandbox already gives a fresh network namespace: run.sh must not make
# another one (-N), or the daemon and the load would not meet.
python3 "$REPO/tests/system/sandbox.py" shell --build "$BUILD" -- \
  bash "$WORK/relay/run.sh" -N -P -R 4242 -k "$K" -l daemon -o "$OUT" "$@" -- "$BUILD/vantagebridge"
echo "relay.sh: results in $OUT"
