"""psutil's way to the busiest processes, timed the way processes_bench times
topProcesses: process_iter with cpu_percent and memory_info over every
process, then the five busiest. Prints the seconds per refresh.

Usage: python3 bench/psutil_processes.py [refreshes]
"""
import sys
import time

import psutil


def refresh():
    rows = []
    for process in psutil.process_iter(["cpu_percent", "memory_info"]):
        memory = process.info["memory_info"]
        rows.append((process.info["cpu_percent"] or 0.0, process.pid, memory.rss if memory else 0))
    rows.sort(key=lambda row: (-row[0], row[1]))
    return rows[:5]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    refresh()  # the first cpu_percent of each process is a baseline
    # CPU time of this process, as the benchmarks beside it report.
    start = time.process_time()
    for _ in range(count):
        refresh()
    print((time.process_time() - start) / count)


if __name__ == "__main__":
    main()
