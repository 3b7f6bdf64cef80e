#!/usr/bin/env bash
# Runs both fuzz targets for SECONDS each, with ASan and UBSan, starting from
# generated seeds and the corpus kept in WORKDIR from earlier runs:
#   run-fuzzers.sh SECONDS WORKDIR PIPELINE_FUZZER RECORDING_FUZZER
# Findings (crash, leak, timeout, undefined behaviour) land in WORKDIR/findings
# and make the script fail.
set -uo pipefail
seconds=$1 pipeline=$3 recording=$4
work=$(mkdir -p "$2" && cd "$2" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
supp=$here/../tests

"$here/make-seeds.sh" "$work/seeds" || exit 1
mkdir -p "$work/corpus/pipeline" "$work/corpus/recording" "$work/findings" "$work/logs"
# The recording target's scratch files; a crashed run cannot remove its own.
rm -rf "$work/tmp" && mkdir -p "$work/tmp"
export TMPDIR=$work/tmp

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$supp/asan.supp"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

status=0
run() {
  local name=$1 exe=$2 maxlen=$3
  local log=$work/logs/$name.log
  echo "== fuzzing $name for $seconds s"
  "$exe" -max_total_time="$seconds" -max_len="$maxlen" -timeout=20 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$work/findings/$name-" \
    "$work/corpus/$name" "$work/seeds/$name" >"$log" 2>&1
  local rc=$?
  local runs speed
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  echo "$name: ${runs:-?} executions, ${speed:-?} per second, exit $rc"
  if [ $rc -ne 0 ]; then
    echo "$name: FINDING (log: $log)"
    tail -n 60 "$log"
    status=1
  fi
}
run pipeline "$pipeline" 32768
run recording "$recording" 65536
exit $status
