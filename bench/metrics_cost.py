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

Two ways of scraping, each measured alternately: on a fresh connection per
scrape (as curl does) and on one kept-alive connection per server (as
Prometheus does: its scrape loop keeps its connection to a target). A server
that answers "Connection: close" gets a new connection for every scrape in
both modes; the count of connections each server was sent is printed.

Beside them, in the same run, the floor: a plain loop doing only the kernel
reads a scrape of this machine needs (the /proc files read from offset 0 on
descriptors kept open, the mount table's change poll, statfs of each file
system on the page, the rtnetlink link dump, the hwmon and power-supply
class folders, uname, the control group files), with its CPU time per
round; and a bare socket server (this script, no HTTP library) answering
each request with the host's page, whose CPU time per scrape is what the
kernel charges for a loopback connection and the send of the page plus the
least an interpreter does around it.

Usage: python3 bench/metrics_cost.py [--build DIR] [--scrapes N] [--soak N] [--mode fresh|kept|both]
The last line of the output is one JSON object with the figures.
"""
import argparse
import http.client
import json
import os
import re
import select
import socket
import struct
import subprocess
import sys
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


class KeptScraper:
    """One HTTP/1.1 connection reused while the server keeps it open."""

    def __init__(self, port):
        self.port = port
        self.connection = None
        self.opened = 0

    def __call__(self):
        if self.connection is None or self.connection.sock is None:
            self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
            self.connection.connect()
            self.opened += 1
        self.connection.request("GET", "/metrics")
        response = self.connection.getresponse()
        body = response.read()
        assert response.status == 200, response.status
        if response.will_close:
            self.connection.close()
        return len(body)

    def close(self):
        if self.connection is not None:
            self.connection.close()


# The bare server of the floor: accepts a connection, reads one request,
# sends the page with a minimal header, closes (fresh) or waits for the next
# request (kept). Run as `python3 metrics_cost.py --bare-server PORT FILE`.
def bare_server(port, page_file):
    with open(page_file, "rb") as f:
        page = f.read()
    answer = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4\r\nContent-Length: "
              + str(len(page)).encode() + b"\r\n\r\n" + page)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(128)
    while True:
        connection, _ = listener.accept()
        with connection:
            while connection.recv(65536):
                connection.sendall(answer)


def read_at_zero(fd):
    chunks = []
    offset = 0
    while True:
        chunk = os.pread(fd, 65536, offset)
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)
        offset += len(chunk)


def netlink_link_dump():
    with socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, 0) as s:  # NETLINK_ROUTE
        request = struct.pack("=LHHLL", 32, 18, 0x301, 1, 0) + bytes(16)  # RTM_GETLINK, REQUEST|DUMP
        s.sendto(request, (0, 0))
        while True:
            data = s.recv(65536)
            done = False
            offset = 0
            while offset + 16 <= len(data):
                length, kind = struct.unpack_from("=LH", data, offset)
                if kind in (2, 3):  # NLMSG_ERROR, NLMSG_DONE
                    done = True
                offset += max((length + 3) & ~3, 16)
            if done:
                return


class FloorReads:
    """The kernel reads one scrape of this machine needs, and nothing else."""

    def __init__(self, page, host_pid):
        self.kept = [os.open(f"/proc/{name}", os.O_RDONLY | os.O_CLOEXEC)
                     for name in ("stat", "loadavg", "meminfo", "vmstat")]
        self.mountinfo = os.open("/proc/self/mountinfo", os.O_RDONLY | os.O_CLOEXEC)
        self.poller = select.poll()
        self.poller.register(self.mountinfo, select.POLLPRI)
        self.mount_points = sorted(set(re.findall(r'^node_filesystem_size_bytes\{.*mountpoint="([^"]*)"', page, re.M)))
        # The control group files the host opened for its limits (the
        # host's own /proc/PID/cgroup and the limit files beneath it).
        self.cgroup_files = [f"/proc/{host_pid}/cgroup"] + cgroup_limit_files(host_pid)

    def __call__(self):
        for fd in self.kept:
            read_at_zero(fd)
        self.poller.poll(0)
        for point in self.mount_points:
            os.statvfs(point)
        netlink_link_dump()
        for folder in ("/sys/class/hwmon", "/sys/class/power_supply"):
            try:
                os.listdir(folder)
            except OSError:
                pass
        os.uname()
        time.time()
        for path in self.cgroup_files:
            try:
                with open(path, "rb", buffering=0) as f:
                    f.read()
            except OSError:
                pass


def cgroup_limit_files(pid):
    """memory, cpu and pids limit files along the host's groups (v1 or v2)."""
    files = []
    with open(f"/proc/{pid}/cgroup") as f:
        for line in f:
            _, controllers, path = line.rstrip("\n").split(":", 2)
            for controller, names in (("memory", ("memory.limit_in_bytes", "memory.max")),
                                      ("cpu", ("cpu.cfs_quota_us", "cpu.max")), ("pids", ("pids.max",))):
                if controllers and controller not in controllers.split(","):
                    continue
                top = f"/sys/fs/cgroup/{controllers.replace('name=', '')}" if controllers else "/sys/fs/cgroup"
                folder = path
                while True:
                    for name in names:
                        if os.path.exists(f"{top}{folder}/{name}"):
                            files.append(f"{top}{folder}/{name}")
                    if folder in ("/", ""):
                        break
                    folder = folder.rsplit("/", 1)[0] or "/"
    return files


def wait_until_up(port):
    for _ in range(100):
        try:
            return scrape(port)
        except OSError:
            time.sleep(0.1)
    raise SystemExit(f"nothing answers on port {port}")


def alternate(servers, scrapes, kept):
    """CPU ms per scrape of each server, scraped in turn; its own scrapes
    only, and the whole run divided by its scrapes."""
    spent = {name: 0.0 for name in servers}
    sizes = {}
    clients = {name: (KeptScraper(port) if kept else (lambda port=port: scrape(port)))
               for name, (pid, port) in servers.items()}
    run_start = {name: cpu_seconds(pid) for name, (pid, _) in servers.items()}
    ticks_start = {name: cpu_ticks_seconds(pid) for name, (pid, _) in servers.items()}
    for _ in range(scrapes):
        for name, (pid, port) in servers.items():
            before = cpu_seconds(pid)
            sizes[name] = clients[name]()
            spent[name] += cpu_seconds(pid) - before
    time.sleep(0.5)  # work that follows the last answers
    whole = {name: (cpu_seconds(pid) - run_start[name]) / scrapes * 1000 for name, (pid, _) in servers.items()}
    ticks = {name: (cpu_ticks_seconds(pid) - ticks_start[name]) / scrapes * 1000 for name, (pid, _) in servers.items()}
    opened = {name: (clients[name].opened if kept else scrapes) for name in servers}
    if kept:
        for client in clients.values():
            client.close()
    return {name: {"whole_ms": round(whole[name], 3), "own_ms": round(spent[name] / scrapes * 1000, 3),
                   "ticks_ms": round(ticks[name], 3), "bytes": sizes[name], "connections": opened[name]}
            for name in servers}


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--bare-server":
        bare_server(int(sys.argv[2]), sys.argv[3])
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--scrapes", type=int, default=200)
    parser.add_argument("--soak", type=int, default=10000)
    parser.add_argument("--mode", choices=("fresh", "kept", "both"), default="both")
    args = parser.parse_args()

    host = subprocess.Popen([f"{args.build}/host/velquette", "--port", "0"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    host_port = int(host.stdout.readline().strip().rsplit(":", 1)[1].rstrip("/"))
    exporter_port = free_port()
    exporter = subprocess.Popen(["/usr/bin/prometheus-node-exporter",
                                 f"--web.listen-address=127.0.0.1:{exporter_port}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    bare = None
    page_file = f"/tmp/metrics_cost_page.{os.getpid()}"
    try:
        wait_until_up(host_port)
        wait_until_up(exporter_port)
        connection = http.client.HTTPConnection("127.0.0.1", host_port, timeout=30)
        connection.request("GET", "/metrics")
        page = connection.getresponse().read()
        connection.close()
        with open(page_file, "wb") as f:
            f.write(page)
        bare_port = free_port()
        bare = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--bare-server", str(bare_port), page_file])
        wait_until_up(bare_port)
        servers = {"velquette": (host.pid, host_port), "node_exporter": (exporter.pid, exporter_port),
                   "bare_server": (bare.pid, bare_port)}
        results = {}
        modes = ("fresh", "kept") if args.mode == "both" else (args.mode,)
        for mode in modes:
            results[mode] = alternate(servers, args.scrapes, kept=(mode == "kept"))
            r = results[mode]
            print(f"[{mode}] CPU ms per scrape, whole run (own scrapes; utime+stime): " + ", ".join(
                f"{name} {r[name]['whole_ms']:.3f} ({r[name]['own_ms']:.3f}; {r[name]['ticks_ms']:.3f}), "
                f"{r[name]['bytes']} bytes, {r[name]['connections']} connections" for name in r))

        floor = FloorReads(page.decode(), host.pid)
        floor()
        start = time.thread_time()
        for _ in range(args.scrapes):
            floor()
        floor_ms = (time.thread_time() - start) / args.scrapes * 1000
        print(f"floor: the kernel reads of one scrape in a plain loop: {floor_ms:.3f} ms "
              f"({len(floor.mount_points)} file systems, {len(floor.cgroup_files)} control group files)")

        rss = [rss_kib(host.pid)]
        for i in range(1, args.soak + 1):
            scrape(host_port)
            if i % (args.soak // 10 or 1) == 0:
                rss.append(rss_kib(host.pid))
        print("host VmRSS (KiB) every tenth of the soak:", rss)
        with open("/proc/loadavg") as f:
            load = f.read().split()[0]
        summary = {"load_average": float(load), "floor_reads_ms": round(floor_ms, 3),
                   "soak_scrapes": args.soak, "rss_kib": rss}
        for mode, r in results.items():
            summary[mode] = r
            summary[f"{mode}_ratio"] = round(r["node_exporter"]["whole_ms"] / max(r["velquette"]["whole_ms"], 1e-9), 1)
        print(json.dumps(summary))
    finally:
        for process in (host, exporter, bare):
            if process is not None:
                process.terminate()
                process.wait()
        if os.path.exists(page_file):
            os.remove(page_file)


if __name__ == "__main__":
    main()
