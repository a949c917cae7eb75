#!/usr/bin/env bash
# Coverage-guided fuzzing of every reader of outside data (libFuzzer, with
# AddressSanitizer and UndefinedBehaviorSanitizer): builds the fuzz preset,
# then runs each target for FUZZ_SECONDS (default 60) or, when set, for
# FUZZ_RUNS executions, and prints its executions, rate and coverage. A crash,
# a hang (over 10 s for one input) or a runaway allocation fails the run; the
# input is kept and the command that repeats it is printed.
#
#   FUZZ_SECONDS=600 scripts/fuzz.sh            every target, ten minutes each
#   FUZZ_RUNS=10000000 scripts/fuzz.sh fuzz_midi_reader
#
# Each target's corpus grows in build-fuzz/corpus/<target> (seeded from what
# make-fuzz-seeds writes); logs and crash inputs go to build-fuzz/runs/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build-fuzz"

all=(fuzz_midi_reader fuzz_project_files fuzz_settings fuzz_sim_requests fuzz_device_answers)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "$(nproc)" > "$build/fuzz-build.log" 2>&1 || {
    cat "$build/fuzz-build.log"
    exit 1
}
"$build/bin/make-fuzz-seeds" "$build/seeds"

dictionary() {
    case "$1" in
        fuzz_midi_reader) echo midi ;;
        fuzz_project_files) echo projects ;;
        fuzz_settings) echo settings ;;
        fuzz_sim_requests) echo sim ;;
        fuzz_device_answers) echo device ;;
        *) echo "unknown fuzz target: $1" >&2; return 1 ;;
    esac
}

# The longest input: a project file or an exchange holds a few 4096-byte blocks.
max_len() {
    case "$1" in
        fuzz_settings) echo 4096 ;;
        *) echo 20000 ;;
    esac
}

if [ -n "${FUZZ_RUNS:-}" ]; then
    limit=(-runs="$FUZZ_RUNS")
else
    limit=(-max_total_time="${FUZZ_SECONDS:-60}")
fi

failed=0
printf '%-22s %12s %9s %7s %7s  %s\n' target executions exec/s cov ft outcome
for target in "${targets[@]}"; do
    dict=$(dictionary "$target")
    corpus="$build/corpus/$target"
    runs="$build/runs/$target"
    mkdir -p "$corpus" "$runs"
    cp -n "$build/seeds/$target/"* "$corpus/" 2> /dev/null || true
    log="$runs/fuzz.log"

    status=0
    ( cd "$runs" && ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
        "$build/bin/$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -max_len="$(max_len "$target")" -dict="$root/fuzz/dict/$dict.dict" -print_final_stats=1 \
        -artifact_prefix="$runs/" "$corpus" ) > "$log" 2>&1 || status=$?

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$last")
    outcome=ok
    if [ "$status" -ne 0 ]; then
        outcome="FAILED (exit $status)"
        failed=1
    fi
    printf '%-22s %12s %9s %7s %7s  %s\n' "$target" "${executions:--}" "${rate:--}" "${cov:--}" "${ft:--}" "$outcome"
    if [ "$status" -ne 0 ]; then
        grep -E 'ERROR|runtime error|SUMMARY|ALARM|out-of-memory|malloc\(' "$log" | head -5 | sed 's/^/    /'
        artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
        if [ -n "$artifact" ]; then
            echo "    input:  $artifact"
            echo "    repeat: $build/bin/$target $artifact"
        fi
        echo "    log:    $log"
    fi
done

# A target that crashed leaves its scratch folder (/dev/shm/korva-fuzz-<pid>):
# those of processes that are gone are removed.
for folder in /dev/shm/korva-fuzz-*; do
    [ -d "$folder" ] || continue
    kill -0 "${folder##*-}" 2> /dev/null || rm -rf "$folder"
done
exit $failed
