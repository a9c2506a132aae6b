#!/usr/bin/env bash
# Load test of the widget host on loopback: wrk sends the page's fullest /batch
# refresh (every call, as in its first refresh: the worst case) at about RATE requests per
# second for SECONDS, then reports the achieved rate, latency percentiles,
# errors, and the host's VmRSS and RssAnon (from /proc/PID/status) after a
# warm-up and after the run.
#
# Debian's wrk has no fixed-rate mode, so each connection waits a fixed delay
# after every answer: C connections with a delay of C*1000/RATE ms give at
# most RATE requests per second, less by the answers' own latency. A 5 s run
# first measures that latency and the delay is shortened by it. A host that
# cannot answer RATE requests a second gets no delay at all; the achieved
# rate is measured and printed either way.
#
# Usage: bench/load.sh [--build DIR] [--machine FILE] [--seconds N] [--rate N]
# The last line of the output is one JSON object with the figures.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
machine=""
seconds=60
rate=1000
connections=20
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --machine) machine="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --rate) rate="$2"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--machine FILE] [--seconds N] [--rate N]" >&2; exit 2 ;;
  esac
done
command -v wrk >/dev/null || { echo "load.sh: wrk is missing (scripts/bootstrap installs it)" >&2; exit 1; }

scratch="$(mktemp -d /tmp/velquette-load.XXXXXX)"
host_pid=""
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# A machine file gets a scratch home, so that its icon cache lands there.
environment=(env -u VELQUETTE_MACHINE "XDG_DATA_HOME=$scratch/data" "HOME=$scratch")
if [ -n "$machine" ]; then
  /usr/bin/python3 - "$machine" "$scratch" <<'EOF'
import json, os, sys
machine = json.load(open(sys.argv[1]))
machine["home"] = sys.argv[2]
os.makedirs(sys.argv[2] + "/Library/Application Support", exist_ok=True)
json.dump(machine, open(sys.argv[2] + "/machine.json", "w"))
EOF
  environment+=("VELQUETTE_MACHINE=$scratch/machine.json")
fi

"${environment[@]}" "$build/host/velquette" --port 0 >"$scratch/url" 2>"$scratch/stderr" &
host_pid=$!
for _ in $(seq 100); do [ -s "$scratch/url" ] && break; sleep 0.05; done
url="$(head -n1 "$scratch/url")"
[ -n "$url" ] || { echo "load.sh: the host did not start:" >&2; cat "$scratch/stderr" >&2; exit 1; }
url="${url%/}"

status_kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$host_pid/status"; }

# The page's whole refresh, every section shown.
batch='[{"method":"cpuUsage"},{"method":"load"},{"method":"uptime"},{"method":"processinfo"},{"method":"memoryUsage"},{"method":"hasDiskSetupChanged"},{"method":"diskUsage"},{"method":"hasNetworkSetupChanged"},{"method":"network"},{"method":"gpus"},{"method":"setShouldMonitorSMARTTemps","args":[1]},{"method":"temps","args":[0]},{"method":"fans"},{"method":"isLaptop"},{"method":"battery"},{"method":"topProcesses","args":[5]},{"method":"getselfpid"},{"method":"isIntel"},{"method":"needsIntelBundle"}]'
cat >"$scratch/batch.lua" <<EOF
wrk.method = "POST"
wrk.body = '$batch'
wrk.headers["Content-Type"] = "application/json"

local pause = tonumber(os.getenv("VELQUETTE_LOAD_DELAY_MS"))

function delay()
  return pause
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    '{"requests": %d, "duration_s": %.3f, "errors": {"connect": %d, "read": %d, "write": %d, "status": %d, "timeout": %d}, ' ..
    '"latency_us": {"p50": %d, "p90": %d, "p99": %d, "p99.9": %d, "max": %d, "mean": %.1f}}\n',
    summary.requests, summary.duration / 1e6, e.connect, e.read, e.write, e.status, e.timeout,
    latency:percentile(50), latency:percentile(90), latency:percentile(99), latency:percentile(99.9),
    latency.max, latency.mean))
end
EOF

# Warm-up: the first refreshes build the tables and icon files.
for _ in $(seq 20); do
  curl -sf -o /dev/null -H 'Content-Type: application/json' --data "$batch" "$url/batch"
done
sleep 0.5
rss_before=$(status_kb VmRSS); anon_before=$(status_kb RssAnon)
cpu_before=$(awk '{ print $14 + $15 }' "/proc/$host_pid/stat")

nominal_ms=$(( connections * 1000 / rate ))
VELQUETTE_LOAD_DELAY_MS=$nominal_ms wrk -t2 -c"$connections" -d5s --timeout 5s -s "$scratch/batch.lua" \
  "$url/batch" >"$scratch/calibration.out"
delay_ms=$(/usr/bin/python3 - "$scratch/calibration.out" "$connections" "$nominal_ms" "$rate" <<'EOF'
import json, sys
run = json.loads([line for line in open(sys.argv[1]) if line.startswith("{")][-1])
connections, nominal, rate = map(float, sys.argv[2:5])
achieved = run["requests"] / run["duration_s"]
latency_ms = connections * 1000 / achieved - nominal
print(max(0, round(connections * 1000 / rate - latency_ms)))
EOF
)
echo "load.sh: $connections connections, ${delay_ms} ms after each answer" >&2

VELQUETTE_LOAD_DELAY_MS=$delay_ms wrk -t2 -c"$connections" -d"${seconds}s" --timeout 5s -s "$scratch/batch.lua" \
  "$url/batch" | tee "$scratch/wrk.out"

sleep 0.5
rss_after=$(status_kb VmRSS); anon_after=$(status_kb RssAnon)
cpu_after=$(awk '{ print $14 + $15 }' "/proc/$host_pid/stat")
kill -0 "$host_pid" || { echo "load.sh: the host died under load" >&2; exit 1; }

/usr/bin/python3 - "$scratch/wrk.out" "$rss_before" "$anon_before" "$rss_after" "$anon_after" \
  "$cpu_before" "$cpu_after" "$(getconf CLK_TCK)" "${machine:-this machine}" "$rate" "$connections" "$delay_ms" <<'EOF'
import json, sys
figures = json.loads([line for line in open(sys.argv[1]) if line.startswith("{")][-1])
rss_before, anon_before, rss_after, anon_after, cpu_before, cpu_after, ticks = map(float, sys.argv[2:9])
figures["machine"] = sys.argv[9]
figures["target_rate"] = int(sys.argv[10])
figures["connections"] = int(sys.argv[11])
figures["delay_ms"] = int(sys.argv[12])
figures["achieved_rate"] = figures["requests"] / figures["duration_s"]
figures["error_count"] = sum(figures["errors"].values())
figures["rss_kb"] = {"before": rss_before, "after": rss_after, "growth": rss_after - rss_before}
figures["rss_anon_kb"] = {"before": anon_before, "after": anon_after, "growth": anon_after - anon_before}
figures["host_cpu_us_per_request"] = (cpu_after - cpu_before) / ticks * 1e6 / max(figures["requests"], 1)
print(json.dumps(figures))
EOF
