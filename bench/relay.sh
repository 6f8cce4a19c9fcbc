#!/usr/bin/env bash
# relay.sh - the daemon's video relay beside the harness's reference relays.
#
#   bench/relay.sh                  daemon, relay_naive and relay_mmsg: 3 runs at 20 and at 1 viewer
#   bench/relay.sh paired           the daemon against relay_mmsg: 5 pairs per rate, each pair back
#                                   to back in rotating order, ratios of the scheduler's CPU time
#   bench/relay.sh slow             a slow viewer among 20: what it costs the other 19
#   BEFORE=/old/build/vantagebridge bench/relay.sh    an older daemon beside them, as "before"
#
# Everything (daemon, reference relays, load generator, sinks) runs inside the
# project's sandbox: private mount and network namespaces, tmpfs over /boot,
# /run and /dev/shm, recording stubs for the shell commands the daemon runs.
# The harness is copied to a temporary folder and built there; it is told not
# to make a network namespace of its own (the sandbox's is the one the daemon
# is in). Needs root and a built daemon.
#
# Environment (defaults):
#   BUILD=build  HARNESS=../shared/bench/relay beside the repository, else /work/shared/bench/relay
#   REPS=3  DUR=5  KS="20 1"  RATES_20="2000 5000 10000 15000"  RATES_1="5000 10000 20000 40000"
#   RELAYS="naive mmsg daemon" (plus "before" when BEFORE is set), order rotated between runs
#   paired: REPS=5  KS=20  RATES="2000 5000 10000"  RELAYS="mmsg daemon" (the reference first;
#     more relays run in the same groups, order rotated: RELAYS="mmsg daemon before mmsg2" with
#     BEFORE set compares both daemons and relay_mmsg with itself, the harness's own spread)
#   SLOW_RATES="2000 5000"  SLOW_KBIT=10000 (the slow viewer's link, about 880 datagrams/s)
#   PIN=R:L:S  pins relay, load generator and sinks to CPUs R, L and S (run.sh -c); default none
#   WRAP="valgrind --tool=callgrind --callgrind-out-file=/tmp/cg-{NAME}.out --"  runs each relay
#     under a profiler ({NAME}: the relay's name)
#   OUT=bench/results/relay-MODE-TIMESTAMP: one folder per run (rows.tsv, logs), summary.md, load.txt
set -euo pipefail
SELF=$(realpath "${BASH_SOURCE[0]}")
REPO=$(cd "$(dirname "$SELF")/.." && pwd)

if [[ -z ${VB_RELAY_INSIDE:-} ]]; then
  MODE=${1:-compare}
  [[ $MODE == compare || $MODE == paired || $MODE == slow ]] || { sed -n '2,28p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 2; }
  BUILD=$(cd "${BUILD:-$REPO/build}" && pwd)
  if [[ -z ${HARNESS:-} ]]; then
    HARNESS=$REPO/../shared/bench/relay
    [[ -d $HARNESS ]] || HARNESS=/work/shared/bench/relay
  fi
  [[ -x $BUILD/vantagebridge ]] || { echo "relay.sh: no daemon at $BUILD/vantagebridge; build it first" >&2; exit 1; }
  [[ -f $HARNESS/run.sh ]] || { echo "relay.sh: no harness at $HARNESS" >&2; exit 1; }
  OUT=${OUT:-$REPO/bench/results/relay-$MODE-$(date +%Y%m%d-%H%M%S)}
  mkdir -p "$OUT"
  OUT=$(cd "$OUT" && pwd)
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
  cp -r "$HARNESS" "$WORK/relay"
  rm -rf "$WORK/relay/results"
  make -s -C "$WORK/relay" loadgen sinks relay_naive relay_mmsg
  [[ -n ${BEFORE:-} ]] && BEFORE=$(realpath "$BEFORE")
  python3 "$REPO/tests/system/sandbox.py" shell --build "$BUILD" -- \
    env VB_RELAY_INSIDE=1 MODE="$MODE" BUILD="$BUILD" RELAY="$WORK/relay" OUT="$OUT" BEFORE="${BEFORE:-}" \
    bash "$SELF"
  echo "relay.sh: results in $OUT"
  exit 0
fi

# ---- inside the sandbox ------------------------------------------------------
# The harness's load generator plays the camera on loopback; the daemon takes
# video only from the camera's link, so here that link is loopback.
echo lo > camera-interface
if [[ $MODE == paired ]]; then
  REPS=${REPS:-5} KS=${KS:-20} RATES=${RATES:-"2000 5000 10000"} RELAYS=${RELAYS:-"mmsg daemon"}
fi
REPS=${REPS:-3} DUR=${DUR:-5} KS=${KS:-"20 1"}
RATES_20=${RATES_20:-"2000 5000 10000 15000"} RATES_1=${RATES_1:-"5000 10000 20000 40000"}
SLOW_RATES=${SLOW_RATES:-"2000 5000"} SLOW_KBIT=${SLOW_KBIT:-10000}
RELAYS=${RELAYS:-"naive mmsg daemon${BEFORE:+ before}"}
export RELAYBENCH_IN_NETNS=1   # run.sh: this namespace, no new one
note_load() { echo "$(date -Is) $1: $(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/load.txt"; }

# relay name, K -> the command run.sh starts and the options it needs.
relay_command() {
  local extra=${2:-}
  case $1 in
    naive) CMD=("$RELAY/relay_naive" ${extra:+-d "{CLIENTS},$extra"} -k {K} -p {BASE}); REG=() ;;
    mmsg | mmsg2) CMD=("$RELAY/relay_mmsg" ${extra:+-d "{CLIENTS},$extra"} -k {K} -p {BASE}); REG=() ;;
    daemon) CMD=("$BUILD/vantagebridge"); REG=(-R 4242) ;;
    before) CMD=("$BEFORE"); REG=(-R 4242) ;;
    *) echo "relay.sh: unknown relay $1" >&2; return 1 ;;
  esac
  if [[ -n ${WRAP:-} ]]; then
    read -r -a W <<<"${WRAP//\{NAME\}/$1}"
    CMD=("${W[@]}" "${CMD[@]}")
  fi
  if [[ -n ${PIN:-} ]]; then REG+=(-c "$PIN"); fi
}

run_one() {  # name K rep rates [label-suffix] [extra destination]
  local name=$1 k=$2 rep=$3 rates=$4 mode=${5:-busy} extra=${6:-}
  relay_command "$name" "$extra"
  note_load "$mode K=$k $name rep$rep"
  bash "$RELAY/run.sh" -N -P "${REG[@]}" -k "$k" -r "$rates" -d "$DUR" -l "$name" \
    -o "$OUT/$mode-k$k-$name-rep$rep" -- "${CMD[@]}" | tail -n +2 | sed "s/^/[$mode rep$rep] /" \
    || echo "[$mode rep$rep] FAILED: $name K=$k (see $OUT/$mode-k$k-$name-rep$rep)"
}

read -r -a R <<<"$RELAYS"
n=${#R[@]}
if [[ $MODE == compare ]]; then
  for rep in $(seq "$REPS"); do
    for k in $KS; do
      if (( k >= 10 )); then rates=$RATES_20; else rates=$RATES_1; fi
      for i in $(seq 0 $((n - 1))); do run_one "${R[$(( (i + rep - 1) % n ))]}" "$k" "$rep" "$rates"; done
    done
  done
  note_load end
  python3 "$RELAY/summarize.py" "$OUT" | tee "$OUT/summary.md"
  exit 0
fi

# Paired: the reference and the other relays at one rate back to back, the
# order rotated for every group, so a change of load between the runs falls on
# every side alike.
if [[ $MODE == paired ]]; then
  (( n >= 2 )) || { echo "relay.sh: paired takes the reference and one or more relays" >&2; exit 2; }
  turn=0
  for rep in $(seq "$REPS"); do
    for k in $KS; do
      for rate in $RATES; do
        for i in $(seq 0 $((n - 1))); do run_one "${R[$(( (i + turn) % n ))]}" "$k" "$rep" "$rate" "r$rate"; done
        turn=$(( (turn + 1) % n ))
      done
    done
  done
  note_load end
  python3 "$(dirname "$SELF")/relay_pairs.py" "$OUT" | tee "$OUT/summary.md"
  exit 0
fi

# Slow viewer: the 20th viewer sits in a network namespace of its own behind a
# veth link shaped to $SLOW_KBIT kbit/s. "deep": up to 10,000 datagrams may
# queue for it, more than any send buffer holds, as behind a radio that queues
# without limit; "aqm": about 50 ms of its datagrams queue and the rest are
# dropped, as behind a queue manager. run.sh measures the 19 others on the
# loopback interface; the slow one is a sinks process of its own.
ip netns add vbslow
trap 'ip netns del vbslow 2>/dev/null || true' EXIT
ip link add vbslow0 type veth peer name vbslow1 netns vbslow
ip addr add 10.9.0.1/24 dev vbslow0
ip link set vbslow0 up
ip -n vbslow addr add 10.9.0.2/24 dev vbslow1
ip -n vbslow link set vbslow1 up
ip -n vbslow link set lo up
for queue in deep aqm; do
  if [[ $queue == deep ]]; then limit=10000; else limit=$(( SLOW_KBIT * 1000 / 8 / 20 / 1412 + 1 )); fi
  tc qdisc del dev vbslow0 root 2>/dev/null || true
  tc qdisc add dev vbslow0 root handle 1: htb default 10
  tc class add dev vbslow0 parent 1: classid 1:10 htb rate "${SLOW_KBIT}kbit" ceil "${SLOW_KBIT}kbit"
  tc qdisc add dev vbslow0 parent 1:10 handle 10: pfifo limit "$limit"
  for rep in $(seq "$REPS"); do
    for i in $(seq 0 $((n - 1))); do
      name=${R[$(( (i + rep - 1) % n ))]}
      ip netns exec vbslow "$RELAY/sinks" -k 1 -a 10.9.0.2 -p 6019 -R 10.9.0.1:4242 -t 600 \
        > "$OUT/slow-$queue-$name-rep$rep.sink" 2>&1 &
      slow=$!
      run_one "$name" 19 "$rep" "$SLOW_RATES" "$queue" 10.9.0.2:6019
      kill -TERM "$slow" 2>/dev/null || true
      wait "$slow" 2>/dev/null || true
    done
  done
  tc -s qdisc show dev vbslow0 > "$OUT/slow-$queue-qdisc.txt"
done
note_load end
python3 "$RELAY/summarize.py" "$OUT" | tee "$OUT/summary.md"
