#!/usr/bin/env bash
# farm_test.sh OMBRIX PLUGIN_DIR: `ombrix farm` against a single-node Slurm
# cluster started here (slurm-cluster.sh). A 48-frame Mistform sequence with
# keyframes and stored sequence data, in chunks of 10, must match one local
# render byte for byte, also when a task is killed mid-chunk and requeued;
# collect must find a frame deleted or cut short afterwards; a task must
# refuse plug-ins changed after submission. Without Slurm, munge or root the
# test is skipped (status 77), or fails where outside tools are required.
set -euo pipefail
ombrix=$(realpath "$1")
built_plugins=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

required() {
  if [ -n "${OMBRIX_REQUIRE_TOOLS+set}" ]; then
    [ -n "$OMBRIX_REQUIRE_TOOLS" ] && [ "$OMBRIX_REQUIRE_TOOLS" != 0 ]
  else
    [ "${CI:-}" = true ]
  fi
}
export PATH="$PATH:/usr/sbin:/sbin"
missing=""
for program in munged slurmctld slurmd sbatch squeue scontrol; do
  command -v "$program" >/dev/null || missing="$missing $program"
done
[ "$(id -u)" = 0 ] || missing="$missing (root, to start the daemons)"
if [ -n "$missing" ]; then
  if required; then echo "FAIL: the farm test needs$missing; scripts/install-ci-deps installs them" >&2; exit 1; fi
  echo "SKIP: the farm test needs$missing"
  exit 77
fi

work=$(mktemp -d /tmp/ombrix-farm-test-XXXXXX)
cleanup() {
  "$here"/slurm-cluster.sh stop "$work"/cluster || true
  rm -rf "$work"
}
trap cleanup EXIT
"$here"/slurm-cluster.sh start "$work"/cluster
export SLURM_CONF="$work"/cluster/slurm.conf
cd "$work"
mkdir plugins ref out1 out2 out3
cp "$built_plugins"/mistform.aex plugins/
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() {  # check WHAT COMMAND...: runs COMMAND, counts a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

# The render: keyframes, options from the dialog kept as sequence data.
"$ombrix" render mistform --plugins plugins --registry registry -i solid:16x8 -o still.png -q \
  --dialog 1002=1234,1003=on,1004=3 --save-sequence-data seq.bin
render=(mistform -i testcard:480x270 --registry registry --sequence-data seq.bin --frames 0-47
  -k Evolution@0=0 -k Evolution@2=720 -k Scale@0=40 -k Scale@1.9=160 -p Complexity=8)

# Waits (at most SECONDS) for the job to leave the queue.
wait_job() {
  local deadline=$((SECONDS + $2))
  while [ -n "$(squeue -h -j "$1" -o %i 2>/dev/null)" ]; do
    [ $SECONDS -lt $deadline ] || { echo "job $1 still queued after $2 s" >&2; squeue >&2; return 1; }
    sleep 0.3
  done
}
same_frames() {  # same_frames DIR: every frame as the local render wrote it
  local f bad=0
  for f in ref/*.png; do cmp -s "$f" "$1/$(basename "$f")" || { echo "differs: $1/$(basename "$f")" >&2; bad=1; }; done
  return $bad
}

start=$SECONDS
"$ombrix" render "${render[@]}" --plugins plugins -o ref/f.####.png -q
echo "local render: $((SECONDS - start)) s"
[ "$(ls ref | wc -l)" = 48 ] || fail "the local render wrote $(ls ref | wc -l) frames"

# 1. One task at a time; chunk 1 is requeued once it has written a frame.
start=$SECONDS
job=$("$ombrix" farm submit "${render[@]}" --plugins plugins -o out1/f.####.png --chunk 10 --max-parallel 1 \
  --job-dir job1 -q)
deadline=$((SECONDS + 300))
until [ -e job1/frames/10 ]; do
  [ $SECONDS -lt $deadline ] || break
  sleep 0.05
done
if [ -e job1/frames/19 ] || [ ! -e job1/frames/10 ]; then
  fail "chunk 1 was not caught mid-chunk ($(ls job1/frames | wc -l) frames recorded)"
fi
scontrol requeue "${job}_1"
# A requeued job waits before it may start again; it may start at once
# (scontrol refuses that until the killed run has ended).
for _ in $(seq 100); do
  scontrol update jobid="${job}_1" StartTime=now 2>/dev/null && break
  sleep 0.3
done
wait_job "$job" 600
echo "48 frames in chunks of 10 with a requeue: $((SECONDS - start)) s"
check "farm frames match the local render" same_frames out1
leftover=$(ls -A out1 | grep -v '^f\.[0-9]*\.png$' || true)
[ -z "$leftover" ] || fail "the requeued task left files behind: $leftover"
grep -q "going on from frame 1[1-9]" job1/logs/"${job}"_1.out || fail "the requeued chunk did not go on where it stopped"
status=$("$ombrix" farm status job1)
echo "$status"
grep -q "^48/48 frames done" <<<"$status" || fail "status does not say 48/48 frames done"
check "collect finds every frame" "$ombrix" farm collect job1

# 2. Damage found afterwards, and the failed chunks rendered again alone.
rm out1/f.0013.png
truncate -s 100 out1/f.0042.png
set +e
report=$("$ombrix" farm collect job1)
code=$?
set -e
echo "$report"
[ $code -ne 0 ] || fail "collect passed a deleted and a truncated frame"
grep -q "^missing: 13$" <<<"$report" || fail "collect did not report frame 13 missing"
grep -q "^damaged.*: 42$" <<<"$report" || fail "collect did not report frame 42 damaged"
grep -q "farm resubmit .* --chunks 1,4$" <<<"$report" || fail "collect did not give the resubmit command for chunks 1 and 4"
again=$("$ombrix" farm resubmit job1 -q)
wait_job "$again" 300
check "resubmitted chunks mend the frames" same_frames out1
check "collect passes after the resubmission" "$ombrix" farm collect job1 -q

# 3. Two task slots: the wall time of the whole job.
start=$SECONDS
job=$("$ombrix" farm submit "${render[@]}" --plugins plugins -o out2/f.####.png --chunk 10 --max-parallel 2 \
  --job-dir job2 -q)
wait_job "$job" 600
echo "48 frames in chunks of 10 on 2 task slots: $((SECONDS - start)) s"
check "2-slot frames match the local render" same_frames out2

# 4. A plug-in changed between submission and run is refused.
mkdir plugins4
cp plugins/mistform.aex plugins4/
job=$("$ombrix" farm submit "${render[@]}" --plugins plugins4 -o out3/f.####.png --chunk 10 --job-dir job4 \
  --slurm=--hold -q)
printf 'x' >>plugins4/mistform.aex
scontrol release "$job"
wait_job "$job" 300
[ -z "$(ls out3)" ] || fail "a task rendered with a changed plug-in"
grep -q "differ from those recorded" job4/chunks/0 || fail "chunk 0 did not record the refusal: $(cat job4/chunks/0)"
status=$("$ombrix" farm status job4)
echo "$status"
grep -q "^0/48 frames done.* 48 failed" <<<"$status" || fail "status does not show the refused chunks as failed"

if [ $failures -ne 0 ]; then
  echo "$failures farm check(s) failed"
  exit 1
fi
echo "farm: every check passed"
