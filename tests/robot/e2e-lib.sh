# What the end-to-end scripts share: each runs in its own folder, where
# every program logs to NAME.log; what they start is ended on exit.
pids=()
cleanup() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
fail() { echo "$(basename "$0"): $*" >&2; for log in *.log; do echo "== $log" >&2; cat "$log" >&2; done; exit 1; }
# Waits up to 20 s for a line in NAME.log.
expect_log() {
    for _ in $(seq 200); do grep -q -- "$2" "$1.log" 2>/dev/null && return 0; sleep 0.1; done
    fail "$1 never logged: $2"
}
# Waits up to 20 s for COUNT lines in NAME.log.
expect_count() {
    for _ in $(seq 200); do [[ $(grep -c -- "$3" "$1.log") -ge $2 ]] && return 0; sleep 0.1; done
    fail "$1 did not log $2 times: $3"
}
