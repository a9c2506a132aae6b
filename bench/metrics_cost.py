"""Cost of one /metrics scrape: the host beside Debian's node_exporter (default
collectors), scraped alternately in one run, with each server's CPU time
per scrape; then the host's VmRSS over a long run of scrapes, to show that
memory stays flat.

CPU time is the time on CPU of all the server's threads (the first field of
/proc/PID/task/*/schedstat, in nanoseconds; utime and stime count in ticks
of 10 ms, coarser than one scrape). Two figures per server: across each of
its own scrapes only, and across the whole alternating run divided by its
scrapes, which also charges work a server does after its answer has gone
(closing the connection, a collector of garbage) and any idle work. The
ratio is taken from the whole-run figures.

Usage: python3 bench/metrics_cost.py [--build DIR] [--scrapes N] [--soak N]
The last line of the output is one JSON object with the figures.
"""
import argparse
import http.client
import json
import os
import socket
import subprocess
import time

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended; its time is lost to both figures alike
    return total / 1e9


def cpu_ticks_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.request("GET", "/metrics")
    response = connection.getresponse()
    body = response.read()
    connection.close()
    assert response.status == 200, response.status
    return len(body)


def wait_until_up(port):
    for _ in range(100):
        try:
            return scrape(port)
        except OSError:
            time.sleep(0.1)
    raise SystemExit(f"nothing answers on port {port}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--scrapes", type=int, default=200)
    parser.add_argument("--soak", type=int, default=10000)
    args = parser.parse_args()

    host = subprocess.Popen([f"{args.build}/host/velquette", "--port", "0"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    host_port = int(host.stdout.readline().strip().rsplit(":", 1)[1].rstrip("/"))
    exporter_port = free_port()
    exporter = subprocess.Popen(["/usr/bin/prometheus-node-exporter",
                                 f"--web.listen-address=127.0.0.1:{exporter_port}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until_up(host_port)
        wait_until_up(exporter_port)
        spent = {"velquette": 0.0, "node_exporter": 0.0}
        sizes = {}
        pids = {"velquette": host.pid, "node_exporter": exporter.pid}
        run_start = {name: cpu_seconds(pid) for name, pid in pids.items()}
        ticks_start = {name: cpu_ticks_seconds(pid) for name, pid in pids.items()}
        for _ in range(args.scrapes):
            for name, pid, port in (("velquette", host.pid, host_port), ("node_exporter", exporter.pid, exporter_port)):
                before = cpu_seconds(pid)
                sizes[name] = scrape(port)
                spent[name] += cpu_seconds(pid) - before
        time.sleep(0.5)  # work that follows the last answers
        whole = {name: (cpu_seconds(pid) - run_start[name]) / args.scrapes * 1000 for name, pid in pids.items()}
        ticks = {name: (cpu_ticks_seconds(pid) - ticks_start[name]) / args.scrapes * 1000
                 for name, pid in pids.items()}
        per_scrape = {name: spent[name] / args.scrapes * 1000 for name in spent}
        print(f"CPU per scrape, across its own scrapes: velquette {per_scrape['velquette']:.3f} ms "
              f"({sizes['velquette']} bytes), node_exporter {per_scrape['node_exporter']:.3f} ms "
              f"({sizes['node_exporter']} bytes)")
        print(f"CPU per scrape, whole run: velquette {whole['velquette']:.3f} ms, "
              f"node_exporter {whole['node_exporter']:.3f} ms "
              f"(utime + stime: {ticks['velquette']:.3f} ms, {ticks['node_exporter']:.3f} ms)")

        rss = [rss_kib(host.pid)]
        for i in range(1, args.soak + 1):
            scrape(host_port)
            if i % (args.soak // 10 or 1) == 0:
                rss.append(rss_kib(host.pid))
        print("host VmRSS (KiB) every tenth of the soak:", rss)
        print(json.dumps({"velquette_cpu_ms_per_scrape": round(whole["velquette"], 3),
                          "node_exporter_cpu_ms_per_scrape": round(whole["node_exporter"], 3),
                          "velquette_cpu_ms_in_own_scrapes": round(per_scrape["velquette"], 3),
                          "node_exporter_cpu_ms_in_own_scrapes": round(per_scrape["node_exporter"], 3),
                          "ratio": round(whole["node_exporter"] / max(whole["velquette"], 1e-9), 1),
                          "soak_scrapes": args.soak, "rss_kib": rss}))
    finally:
        for process in (host, exporter):
            process.terminate()
            process.wait()


if __name__ == "__main__":
    main()
