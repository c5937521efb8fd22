#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (preset `fuzz`: clang with ASan and UBSan), replays every
# target's seed corpus fuzz/corpus/<target>/, then fuzzes each target for the given time.
# Exits non-zero on any finding; the inputs that caused them are kept in the work folder.
#
#   scripts/fuzz.sh [--seconds N] [--junit FILE] [--build-dir DIR] [--jobs N] [--work DIR]
#                   [TARGET...]
#
#   --seconds N    fuzzing time per target (default 60; 0 only replays the seed corpora)
#   --junit FILE   write a JUnit report: one testcase per corpus replay and per fuzzing run
#   --build-dir D  build there instead of the preset's build/fuzz
#   --jobs N       targets fuzzed side by side (default 2)
#   --work DIR     new corpus inputs, logs and findings (default <build dir>/fuzz-work)
#   TARGET         only these targets (names of fuzz/*_fuzz.cpp without .cpp); default all
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

seconds=60
junit=
build_dir=
jobs=2
work=
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=$2; shift 2 ;;
        --junit) junit=$2; shift 2 ;;
        --build-dir) build_dir=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
case $seconds in ''|*[!0-9]*) echo "fuzz.sh: --seconds takes a whole number" >&2; exit 2 ;; esac
case $jobs in ''|*[!0-9]*|0) echo "fuzz.sh: --jobs takes a positive number" >&2; exit 2 ;; esac

if [ -z "$build_dir" ]; then
    build_dir=$top/build/fuzz
    cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1
else
    cmake --preset fuzz -B "$build_dir" >/dev/null && cmake --build "$build_dir" -j2 || exit 1
fi
build_dir=$(cd "$build_dir" && pwd)
work=${work:-$build_dir/fuzz-work}
mkdir -p "$work"
work=$(cd "$work" && pwd)

if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/*_fuzz.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

# One line per run in $work/results: kind target status seconds executions log.
results=$work/results
: >"$results"

replay() {
    local target=$1 binary=$build_dir/fuzz/$1 seeds=$top/fuzz/corpus/$1
    local log=$work/$target.replay.log start status=passed
    start=$(date +%s)
    if [ ! -x "$binary" ]; then
        echo "no such target: $binary" >"$log"
        status=failed
    elif [ ! -d "$seeds" ]; then
        echo "no seed corpus: $seeds" >"$log"
        status=failed
    elif ! "$binary" -runs=0 -timeout=10 -artifact_prefix="$work/$target-replay-" "$seeds" \
        >"$log" 2>&1; then
        status=failed
    fi
    local count
    count=$(find "$seeds" -type f 2>/dev/null | wc -l)
    echo "replay $target $status $(($(date +%s) - start)) $count $log" >>"$results"
    echo "replay $target: $status ($count inputs)"
}

fuzz_one() {
    local target=$1 binary=$build_dir/fuzz/$1 seeds=$top/fuzz/corpus/$1
    local log=$work/$target.fuzz.log corpus=$work/corpus/$target start status=passed
    mkdir -p "$corpus"
    start=$(date +%s)
    # New inputs go to the work corpus; the seeds in the repository are only read.
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$target-" "$corpus" "$seeds" \
        >"$log" 2>&1; then
        status=failed
    fi
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz $target $status $(($(date +%s) - start)) ${runs:-0} $log" >>"$results"
    echo "fuzz $target: $status (${runs:-0} executions in $(($(date +%s) - start)) s)"
}

for target in "${targets[@]}"; do
    replay "$target"
done

if [ "$seconds" -gt 0 ]; then
    running=0
    for target in "${targets[@]}"; do
        if [ "$running" -ge "$jobs" ]; then
            wait -n
            running=$((running - 1))
        fi
        fuzz_one "$target" &
        running=$((running + 1))
    done
    wait
fi

if [ -n "$junit" ]; then
    mkdir -p "$(dirname "$junit")"
    /usr/bin/python3 - "$results" "$junit" <<'PYTHON'
import sys
import xml.etree.ElementTree as ET

results, out = sys.argv[1], sys.argv[2]
suite = ET.Element("testsuite", name="fuzz")
cases = failures = 0
total = 0.0
for line in open(results):
    kind, target, status, seconds, count, log = line.split(maxsplit=5)
    log = log.strip()
    case = ET.SubElement(suite, "testcase", classname=f"fuzz.{kind}", name=target, time=seconds)
    cases += 1
    total += float(seconds)
    what = "inputs" if kind == "replay" else "executions"
    ET.SubElement(case, "system-out").text = f"{count} {what}; log {log}\n"
    if status != "passed":
        failures += 1
        try:
            tail = "".join(open(log, errors="replace").readlines()[-40:])
        except OSError:
            tail = ""
        ET.SubElement(case, "failure", message=f"{kind} of {target} failed; log {log}").text = tail
suite.set("tests", str(cases))
suite.set("failures", str(failures))
suite.set("time", str(total))
ET.ElementTree(suite).write(out, encoding="utf-8", xml_declaration=True)
PYTHON
fi

if grep -q -v '^[a-z]* [^ ]* passed ' "$results"; then
    echo "fuzz: findings or failures; see the logs and inputs in $work"
    exit 1
fi
echo "fuzz: no findings"
