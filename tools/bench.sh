#!/usr/bin/env bash
# Builds an optimised native tree and runs every benchmark in it; each prints
# its own figure against the baseline it measures in the same run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VP_BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/release" --target contact_list_bench note_append_bench settings_save_bench \
  server_sessions_bench server_locate_bench relay_throughput_bench note_latency_bench \
  attachment_throughput_bench relay_latency_bench
"$build/release/bench/contact_list_bench"
"$build/release/bench/note_append_bench"
"$build/release/bench/settings_save_bench"
"$build/release/bench/server_sessions_bench"
"$build/release/bench/server_locate_bench"
"$build/release/bench/relay_throughput_bench"
"$build/release/bench/note_latency_bench"
"$build/release/bench/attachment_throughput_bench"
"$build/release/bench/relay_latency_bench"
