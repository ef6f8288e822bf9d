#!/usr/bin/env bash
# Runs every fuzz target of <build folder> for <seconds> each, starting from the worked examples,
# and prints the executions of each. Any crash, hang or sanitizer report fails the run; the input
# that caused it is left in <build folder>/findings.
set -uo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/findings"
failed=0
summary=()
while read -r target; do
    [[ -n "$target" ]] || continue
    work="$build/corpus/$target"
    mkdir -p "$work"
    log="$build/$target.log"
    start=$(date +%s)
    "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
        "$work" "$here/corpus/$target" >"$log" 2>&1
    status=$?
    took=$(($(date +%s) - start))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [[ $status -ne 0 ]]; then
        failed=1
        summary+=("$(printf '%-22s FAILED after %s s, see %s' "$target" "$took" "$log")")
    else
        summary+=("$(printf '%-22s %12s executions in %s s' "$target" "${runs:-?}" "$took")")
    fi
done <"$build/fuzzers.txt"
printf '%s\n' "${summary[@]}"
bad=$(printf '%s\n' "${summary[@]}" | grep -c FAILED)
echo "fuzz: $((${#summary[@]} - bad)) passed, $bad failed"
exit $failed
