#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan; preset
# "fuzz", tree build/fuzz) and runs each one for a bounded time, starting
# from the seed corpus in tests/fuzz/corpus/<target>.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]    default 30 s each, every target
#   scripts/fuzz.sh 600                      a longer run by hand
#   scripts/fuzz.sh 60 commands reply        some targets only
#
# What the fuzzer adds to a corpus is kept in build/fuzz/corpus/<target>, so
# later runs go on from there; a crash or sanitizer report leaves its input
# in build/fuzz/artifacts/<target>/ and the report in build/fuzz/logs/.
# Prints executions, executions per second, coverage and new inputs per
# target. Exit status 1 when any target crashed, hung or reported.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/fuzz"
JOBS="${PESOLINK_JOBS:-2}"
ALL_TARGETS=(reply commands connection address settings encode)

seconds="${1:-30}"
[[ $# -gt 0 ]] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds < 1)); then
    echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi
targets=("$@")
((${#targets[@]})) || targets=("${ALL_TARGETS[@]}")

say() { echo "fuzz: $*"; }

# Longest input each target is given: room for a whole frame buffer and
# more in the reply targets, shorter texts elsewhere.
max_len_of() {
    case "$1" in
        reply | commands) echo 8192 ;;
        connection | settings) echo 4096 ;;
        *) echo 2048 ;;
    esac
}

if ! command -v clang++ >/dev/null; then
    "$ROOT/scripts/setup.sh"
fi

if [[ ! -f "$BUILD/build.ninja" ]]; then
    say "configuring $BUILD"
    (cd "$ROOT" && cmake --preset fuzz >/dev/null)
fi
say "building the fuzz targets"
cmake --build "$BUILD" -j "$JOBS" --target fuzz_all >/dev/null

failed=()
passed=0
summary=()
for target in "${targets[@]}"; do
    exe="$BUILD/tests/fuzz/fuzz_$target"
    if [[ ! -x "$exe" ]]; then
        say "no target named $target (have: ${ALL_TARGETS[*]})"
        failed+=("$target")
        continue
    fi
    seeds="$ROOT/tests/fuzz/corpus/$target"
    corpus="$BUILD/corpus/$target"
    artifacts="$BUILD/artifacts/$target"
    log="$BUILD/logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

    say "$target: ${seconds} s"
    status=0
    # -timeout: an input that runs longer than this is a hang, reported as
    # such. The outer timeout only guards against a fuzzer that does not stop.
    timeout -k 10 $((seconds + 120)) "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$(max_len_of "$target")" -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "$seeds" >"$log" 2>&1 || status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    line="$target: ${runs:-?} executions, ${rate:-?}/s, ${cov:-no coverage line}, ${added:-0} new inputs"
    if ((status != 0)); then
        found=$(ls -t "$artifacts" 2>/dev/null | head -1 || true)
        line+=", FAILED (exit $status${found:+, input $artifacts/$found})"
        failed+=("$target")
        # The report: the sanitizer's or the check's first lines.
        grep -m 12 -E 'ERROR|SUMMARY|runtime error|check failed|deadly signal|timeout|^    #[0-9] ' "$log" | sed 's/^/    /' || true
    else
        line+=", nothing found"
        passed=$((passed + 1))
    fi
    summary+=("$line")
    say "$line"
done

echo
say "summary (${seconds} s per target)"
for line in "${summary[@]}"; do echo "  $line"; done
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
