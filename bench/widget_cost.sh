#!/usr/bin/env bash
# What the widget costs beside its peers, in one run on this machine, each
# at a refresh of one second, one after the other:
#   - velquette-widget under Xvfb (software rendering), every process of it:
#     the window with its host, WebKitWebProcess, WebKitNetworkProcess;
#   - the host alone (velquette), while headless Chromium shows its page
#     (only the host's own process is counted);
#   - btop with update_ms = 1000 in tmux;
#   - glances -t 1 in tmux.
# Each runs WARMUP seconds (default 10) first, then is measured for SECONDS
# (default 60): the user and system time of the process and every process
# under it, from /proc/PID/stat, as a share of one core. tmux itself (with no
# client attached nothing is drawn) is not counted.
#   bench/widget_cost.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${2:-$root/build}
warmup=${WARMUP:-10}
ticks=$(getconf CLK_TCK)
scratch=$(mktemp -d)
socket="vq-bench-$$"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  tmux -L "$socket" kill-server 2>/dev/null || true
  sleep 1
  rm -rf "$scratch" 2>/dev/null || true
}
trap cleanup EXIT

# "PID COMM TICKS" (user + system ticks) for $1 and every process below it, now.
tree_ticks() {
  ps -e -o pid=,ppid= | awk -v top="$1" '
    { parent[$1] = $2 }
    END {
      mark[top] = 1
      do { grown = 0; for (p in parent) if (!(p in mark) && (parent[p] in mark)) { mark[p] = 1; grown = 1 } } while (grown)
      for (p in mark) print p
    }' | while read -r pid; do
      awk -v pid="$pid" '{ comm = $0; sub(/^[^(]*\(/, "", comm); sub(/\).*/, "", comm); gsub(/ /, "_", comm)
                           sub(/.*\) /, ""); print pid, comm, $12 + $13 }' "/proc/$pid/stat" 2>/dev/null || true
    done
}

# Prints "$2: N % of one core" for the tree under pid $1 (only $1 with $3 =
# self); with $3 = split, then a row for each program of the tree that took
# any time (processes of one name added up).
measure() {
  sleep "$warmup"
  local before after
  if [ "${3:-}" = self ]; then before="$1 self $(awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$1/stat")"
  else before=$(tree_ticks "$1"); fi
  sleep "$seconds"
  if [ "${3:-}" = self ]; then after="$1 self $(awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$1/stat")"
  else after=$(tree_ticks "$1"); fi
  # A process counts from its ticks at the start, or from 0 if it started since.
  awk -v n="$2" -v t="$ticks" -v s="$seconds" -v mode="${3:-}" '
    NR == FNR { start[$1] = $3; next }
    { d = $3 - start[$1]; total += d; by[$2] += d }
    END {
      name["velquette-widge"] = "the window (GTK and the host)"
      name["WebKitWebProces"] = "WebKitWebProcess"; name["WebKitNetworkPr"] = "WebKitNetworkProcess"
      printf "| %s | %.2f %% |\n", n, 100 * total / t / s
      if (mode == "split") for (c in by) if (by[c] > 0) printf "| – of which %s | %.2f %% |\n", (c in name ? name[c] : c), 100 * by[c] / t / s
    }' <(echo "$before") <(echo "$after")
}

echo "| what runs | share of one core |"
echo "|---|---:|"

# The widget window on a virtual display of its own.
display=:$((300 + $$ % 200))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
pids+=($!)
sleep 1
DISPLAY=$display WAYLAND_DISPLAY= XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache \
  "$build/host/velquette-widget" > "$scratch/widget-url" 2>/dev/null &
widget=$!
pids+=("$widget")
measure "$widget" "\`velquette-widget\` under Xvfb (the window, WebKitWebProcess, WebKitNetworkProcess)" split
kill "$widget"

# The host alone, its page shown by headless Chromium.
XDG_DATA_HOME=$scratch/data "$build/host/velquette" --port 0 > "$scratch/host-url" 2>/dev/null &
host=$!
pids+=("$host")
for _ in $(seq 50); do [ -s "$scratch/host-url" ] && break; sleep 0.1; done
chromium --headless=new --no-sandbox --disable-gpu --no-first-run --user-data-dir="$scratch/profile" \
  --window-size=320,900 "$(head -n 1 "$scratch/host-url")" >/dev/null 2>&1 &
pids+=($!)
measure "$host" "the host alone (\`velquette\`), its page in headless Chromium" self
kill "$host"

# The peers, each in a detached tmux of 120 × 40.
mkdir -p "$scratch/config/btop"
echo "update_ms = 1000" > "$scratch/config/btop/btop.conf"
peer() {
  tmux -L "$socket" new-session -d -s "$1" -x 120 -y 40 \
    "env XDG_CONFIG_HOME=$scratch/config HOME=$scratch TERM=xterm-256color $2"
  local pane
  pane=$(tmux -L "$socket" list-panes -t "$1" -F '#{pane_pid}')
  measure "$pane" "$3"
  tmux -L "$socket" kill-session -t "$1"
}
if command -v btop >/dev/null; then peer btop btop "btop $(btop --version | awk '{print $NF}'), \`update_ms = 1000\`, in tmux"
else echo "| btop | not installed |"; fi
if command -v glances >/dev/null; then
  peer glances "glances -t 1" "glances $(glances -V 2>/dev/null | awk 'NR == 1 {print $2}' | tr -d v), \`-t 1\`, in tmux"
else echo "| glances | not installed |"; fi
