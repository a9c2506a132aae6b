"""Soak of the widget host: a million bridge calls over the wire on this
machine, as the page's whole /batch refresh (every section, 18 calls a round
trip), with the host's VmRSS, RssAnon and open descriptors (/proc/PID/status,
/proc/PID/fd) sampled through the run.

Mount and network changes: run as root, the driver moves itself and the host
into a private mount and network namespace (unshare), so the changes touch
nothing outside. There it brings loopback up, and every few hundred rounds
it mounts a tmpfs over the first volume (hiding it from the volume list) or
takes it away again, and adds or deletes a pair of veth interfaces, one with an address.
Without root it makes no changes and says so.

Usage: python3 bench/soak.py [--build DIR] [--calls N] [--change-every ROUNDS]
The last line of the output is one JSON object with the figures.
"""
import argparse
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

PAGE_BATCH = [
    {"method": "cpuUsage"}, {"method": "load"}, {"method": "uptime"}, {"method": "processinfo"},
    {"method": "memoryUsage"}, {"method": "hasDiskSetupChanged"}, {"method": "diskUsage"},
    {"method": "hasNetworkSetupChanged"}, {"method": "network"}, {"method": "gpus"},
    {"method": "setShouldMonitorSMARTTemps", "args": [1]}, {"method": "temps", "args": [0]},
    {"method": "fans"}, {"method": "isLaptop"}, {"method": "battery"},
    {"method": "topProcesses", "args": [5]}, {"method": "getselfpid"}, {"method": "isIntel"},
    {"method": "needsIntelBundle"},
]
PRIVATE = "VELQUETTE_SOAK_PRIVATE"


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def sample(pid, calls):
    return {"calls": calls, "rss_kb": status_kb(pid, "VmRSS"), "rss_anon_kb": status_kb(pid, "RssAnon"),
            "fds": len(os.listdir(f"/proc/{pid}/fd"))}


def run(command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Changes:
    """Mount and network changes inside the private namespaces."""

    def __init__(self, enabled):
        self.enabled = enabled
        self.mounted = False
        self.interface = False
        self.counts = {"mount": 0, "network": 0}

    def toggle_mount(self, volume):
        if not self.enabled or not volume:
            return
        if self.mounted:
            run(["umount", "-l", volume])
        else:
            run(["mount", "-t", "tmpfs", "-o", "size=4k", "velquette-soak", volume])
        self.mounted = not self.mounted
        self.counts["mount"] += 1

    def toggle_interface(self):
        if not self.enabled:
            return
        if self.interface:
            run(["ip", "link", "del", "vqsoak0"])
        else:
            # A veth pair: the dummy driver is not in every kernel.
            run(["ip", "link", "add", "vqsoak0", "type", "veth", "peer", "name", "vqsoak1"])
            run(["ip", "addr", "add", "10.213.7.1/24", "dev", "vqsoak0"])
            run(["ip", "link", "set", "vqsoak0", "up"])
            run(["ip", "link", "set", "vqsoak1", "up"])
        self.interface = not self.interface
        self.counts["network"] += 1

    def undo(self, volume):
        if self.mounted:
            self.toggle_mount(volume)
        if self.interface:
            self.toggle_interface()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--change-every", type=int, default=500, help="rounds between two changes")
    options = parser.parse_args()

    if os.geteuid() == 0 and PRIVATE not in os.environ and shutil.which("unshare"):
        os.environ[PRIVATE] = "1"
        os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", "--net", "--",
                              sys.executable, *sys.argv])
    private = os.environ.get(PRIVATE) == "1"
    if private:
        run(["ip", "link", "set", "lo", "up"])
    else:
        print("soak: not root: no mount or network changes are made", file=sys.stderr)

    scratch = tempfile.mkdtemp(prefix="velquette-soak.")
    environment = {k: v for k, v in os.environ.items() if k != "VELQUETTE_MACHINE"}
    environment.update(XDG_DATA_HOME=scratch + "/data", HOME=scratch)
    host = subprocess.Popen([os.path.join(options.build, "host", "velquette"), "--port", "0"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment, text=True)
    changes = Changes(private)
    volume = None
    try:
        url = host.stdout.readline().strip()
        port = int(url.rsplit(":", 1)[1].strip("/"))
        connection = http.client.HTTPConnection("127.0.0.1", port)
        body = json.dumps(PAGE_BATCH)
        headers = {"Content-Type": "application/json"}

        def batch():
            connection.request("POST", "/batch", body, headers)
            response = connection.getresponse()
            data = response.read()
            if response.status != 200:
                raise RuntimeError(f"/batch answered {response.status}: {data[:200]!r}")
            return json.loads(data)

        first = batch()
        disks = first[6]["result"]
        volume = disks[0][4] if disks else None
        for _ in range(50):  # warm-up: tables, icon files, the allocator's pools
            batch()
        time.sleep(0.2)
        samples = [sample(host.pid, 0)]
        rounds = options.calls // len(PAGE_BATCH)
        every = max(rounds // 100, 1)
        seen_lists, seen_interfaces = set(), set()
        start = time.monotonic()
        for done in range(1, rounds + 1):
            answer = batch()
            seen_lists.add(json.dumps([row[4] for row in answer[6]["result"]]))
            network = answer[8]["result"]
            seen_interfaces.add(json.dumps([row[0] for row in network] if isinstance(network, list) else None))
            if done % options.change_every == 0:
                changes.toggle_mount(volume)
            if done % options.change_every == options.change_every // 2:
                changes.toggle_interface()
            if done % every == 0:
                samples.append(sample(host.pid, done * len(PAGE_BATCH)))
        elapsed = time.monotonic() - start
        changes.undo(volume)
        for _ in range(5):
            batch()
        time.sleep(0.2)
        samples.append(sample(host.pid, rounds * len(PAGE_BATCH)))
        connection.close()
    finally:
        changes.undo(volume)
        host.terminate()
        host.wait()
        shutil.rmtree(scratch, ignore_errors=True)

    base, last = samples[0], samples[-1]
    figures = {
        "calls": rounds * len(PAGE_BATCH), "round_trips": rounds, "seconds": elapsed,
        "changes": changes.counts, "private_namespaces": private,
        "distinct_volume_lists": len(seen_lists), "distinct_interface_lists": len(seen_interfaces),
        "rss_kb": {"start": base["rss_kb"], "end": last["rss_kb"], "max": max(s["rss_kb"] for s in samples)},
        "rss_anon_kb": {"start": base["rss_anon_kb"], "end": last["rss_anon_kb"],
                        "max": max(s["rss_anon_kb"] for s in samples)},
        "fds": {"start": base["fds"], "end": last["fds"], "max": max(s["fds"] for s in samples)},
        "samples": samples,
    }
    figures["flat"] = (figures["rss_kb"]["end"] - figures["rss_kb"]["start"] <= 1024
                       and figures["fds"]["end"] == figures["fds"]["start"])
    print(json.dumps(figures))


if __name__ == "__main__":
    main()
