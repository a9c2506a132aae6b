"""psutil's calls for each section of the page, timed in-process so that
Python's start-up is not counted, in CPU time of this process (as the
benchmarks beside it report CPU time). Prints one JSON object: section name
to seconds per sample.

    cpu        cpu_percent(percpu=True): each processor's share since the last call
    memory     virtual_memory() and swap_memory()
    volumes    disk_partitions() and disk_usage() of each partition
    network    net_io_counters(pernic=True) and net_if_stats()
    hwmon      sensors_temperatures() and sensors_fans()
    battery    sensors_battery()

hwmon and battery read /sys as it is: to time them on a fixture tree, run
this script where that tree is mounted over /sys (bench/record.py does so in
a private mount namespace).

Usage: python3 bench/psutil_sections.py [section ...] [--seconds S]
"""
import json
import sys
import time

import psutil


def volumes():
    for partition in psutil.disk_partitions():
        try:
            psutil.disk_usage(partition.mountpoint)
        except OSError:
            pass


SECTIONS = {
    "cpu": lambda: psutil.cpu_percent(percpu=True),
    "memory": lambda: (psutil.virtual_memory(), psutil.swap_memory()),
    "volumes": volumes,
    "network": lambda: (psutil.net_io_counters(pernic=True), psutil.net_if_stats()),
    "hwmon": lambda: (psutil.sensors_temperatures(), psutil.sensors_fans()),
    "battery": psutil.sensors_battery,
}


def seconds_per_sample(sample, budget):
    sample()  # the first call imports and caches what psutil needs
    count, start = 0, time.process_time()
    while True:
        for _ in range(20):
            sample()
        count += 20
        elapsed = time.process_time() - start
        if elapsed >= budget:
            return elapsed / count


def main():
    args = sys.argv[1:]
    budget = 0.5
    if "--seconds" in args:
        at = args.index("--seconds")
        budget = float(args[at + 1])
        del args[at:at + 2]
    names = args or list(SECTIONS)
    print(json.dumps({name: seconds_per_sample(SECTIONS[name], budget) for name in names}))


if __name__ == "__main__":
    main()
