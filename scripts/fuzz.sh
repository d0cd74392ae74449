#!/usr/bin/env bash
# Runs the fuzz targets for a while and sums up what they did.
#   bash scripts/fuzz.sh [-t seconds per target] [-j targets at once] [name ...]
# Names are those of fuzz/fuzz_<name>.cpp (all when none are given). Builds the clang
# build in build-clang first. New inputs go to build-clang/fuzz/corpus/<name>/ and
# failing ones to build-clang/fuzz/artifacts/; each target's log to build-clang/fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
parallel=3
while getopts "t:j:" option; do
    case "$option" in
    t) seconds="$OPTARG" ;;
    j) parallel="$OPTARG" ;;
    *) echo "usage: $0 [-t seconds] [-j parallel] [name ...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

bash scripts/build-clang.sh >/dev/null
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for run in build-clang/fuzz/*.run; do names+=("$(basename "$run" .run)"); done
fi
mkdir -p build-clang/fuzz/logs

fuzz_one() {
    local name="$1" seconds="$2"
    local run="build-clang/fuzz/$name.run"
    [ -f "$run" ] || { echo "$name: no such target" >&2; return 1; }
    mapfile -t lines <"$run"
    local status=0
    "${lines[0]}" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
        -artifact_prefix="build-clang/fuzz/artifacts/$name-" "${lines[@]:1}" \
        >"build-clang/fuzz/logs/$name.log" 2>&1 || status=$?
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "build-clang/fuzz/logs/$name.log" | grep -o '[0-9]*$' || echo "?")
    local corpus
    corpus=$(find "${lines[1]}" -type f | wc -l)
    if [ "$status" -eq 0 ]; then
        printf '%-20s %12s executions in %ss, corpus %s, no findings\n' "$name" "$runs" "$seconds" "$corpus"
    else
        printf '%-20s %12s executions, FINDING (exit %s), see build-clang/fuzz/logs/%s.log\n' "$name" "$runs" "$status" "$name"
    fi
    return "$status"
}
export -f fuzz_one

printf '%s\n' "${names[@]}" | xargs -P "$parallel" -I{} bash -c 'fuzz_one "$1" "$2"' _ {} "$seconds"
