#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, one after the other (one core each).
#   fuzz/run.sh <build folder> <seconds per target> [target ...]
# New inputs collect in <build folder>/corpus/<target> beside the seeds in fuzz/corpus,
# which stay untouched; a finding is written to <build folder>/findings/<target>/ and
# ends the run with a failure: a crash, a leak, a time-out or a failed check alike.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="$2"
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reply_frame s2_record script_lines reply_check arguments block_payload)

failed=()
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$work" "$findings"
    echo "== fuzz_$t: ${seconds}s"
    if ! "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
            "$work" "$here/corpus/$t" >"$build/fuzz_$t.log" 2>&1; then
        tail -n 40 "$build/fuzz_$t.log"
        failed+=("$t")
    else
        grep -E '^(#[0-9]+.*DONE|Done|stat::number_of_executed_units)' "$build/fuzz_$t.log" | tail -n 2 || true
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]} (inputs in $build/findings)"
    exit 1
fi
echo "Fuzzing: no findings."
