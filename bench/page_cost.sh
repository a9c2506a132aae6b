#!/usr/bin/env bash
# What the page costs the browser: headless Chromium shows the widget for
# SECONDS (default 60) at the page's 1 s refresh, and the CPU time of
# Chromium and all its processes is printed beside the host's own.
#   bench/page_cost.sh [SECONDS] [MACHINE_FILE]   (no machine file: this machine)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
machine=${2:-}
scratch=$(mktemp -d)
trap 'kill "$host" 2>/dev/null || true; rm -rf "$scratch"' EXIT

if [ -n "$machine" ]; then export VELQUETTE_MACHINE=$machine; fi
XDG_DATA_HOME=$scratch "$root/build/host/velquette" --port 0 > "$scratch/url" 2>/dev/null &
host=$!
for _ in $(seq 50); do [ -s "$scratch/url" ] && break; sleep 0.1; done
url=$(head -n 1 "$scratch/url")

host_ticks() { awk '{print $14 + $15}' "/proc/$host/stat"; }
ticks=$(getconf CLK_TCK)

# The CPU seconds of Chromium and all its processes showing $1 for $seconds:
# timeout ends it with SIGTERM, it waits for its own processes, and their
# time is counted in this subshell's children's times.
browser_seconds() {
  (
    timeout "$seconds" chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
      --user-data-dir="$scratch/profile-$2" --window-size=320,900 "$1" >/dev/null 2>&1 || true
    awk -v t="$ticks" '{print ($16 + $17) / t}' /proc/$BASHPID/stat
  )
}

# The floor: the same browser showing an empty page for as long.
blank=$(browser_seconds about:blank blank)
before=$(host_ticks)
page=$(browser_seconds "$url" page)
after=$(host_ticks)
awk -v p="$page" -v b="$blank" -v n="$seconds" -v h="$((after - before))" -v t="$ticks" 'BEGIN {
  printf "chromium, the widget:    %.2f s CPU over %d s\n", p, n
  printf "chromium, an empty page: %.2f s CPU over %d s (the floor)\n", b, n
  printf "the widget costs the browser %.2f s = %.2f%% of one core\n", p - b, 100 * (p - b) / n
  printf "the host:                %.2f s = %.2f%% of one core\n", h / t, 100 * h / t / n
}'
