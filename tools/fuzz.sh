#!/usr/bin/env bash
# Fuzzes the parsers of outside bytes with libFuzzer: builds a clang tree with
# the fuzz targets (build/fuzz) and runs each target for a while, starting
# from its corpus in fuzz/corpus/<name>/. New inputs collect in
# build/fuzz-corpus/<name>/, crashes in build/fuzz-artifacts/.
#
#   tools/fuzz.sh [seconds per target, default 60] [target ...]
#   tools/fuzz.sh --merge      folds what the runs found into fuzz/corpus,
#                              keeping only inputs that add coverage
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
tree="$build/fuzz"
found="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
targets=(session_payloads note_payload note_file contact_list_file peer_requests)

command -v clang++ >/dev/null || { apt-get update -qq && apt-get install -y -qq clang; }
CC=clang CXX=clang++ cmake -S "$root" -B "$tree" -G Ninja -DVP_FUZZ=ON >/dev/null
cmake --build "$tree" --target "${targets[@]/%/_fuzz}"

if [[ ${1:-} == --merge ]]; then
    for name in "${targets[@]}"; do
        [[ -d $found/$name ]] || continue
        "$tree/fuzz/${name}_fuzz" -merge=1 "$root/fuzz/corpus/$name" "$found/$name"
    done
    exit 0
fi

seconds=${1:-60}
shift || true
(($# > 0)) && targets=("$@")
mkdir -p "$artifacts"
for name in "${targets[@]}"; do
    mkdir -p "$found/$name"
    echo "== $name, ${seconds}s"
    "$tree/fuzz/${name}_fuzz" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts/${name}-" "$found/$name" "$root/fuzz/corpus/$name"
done
