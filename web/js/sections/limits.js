// Limits: where a container or a limited slice binds the host, the memory
// section shows what is used of the memory limit, the processor section the
// processors' worth allowed and how much of it is used, and the task count
// its ceiling. Nothing shows where no limit binds.
import { $, isNumber, setText } from "../dom.js";

const GIB = 1024 ** 3;
const MIB = 1024 ** 2;
const bytesText = (bytes) => (bytes >= GIB ? `${(bytes / GIB).toFixed(2)}GB` : `${Math.round(bytes / MIB)}MB`);
const cpusText = (cpus) => `${Number(cpus.toFixed(2))} CPU${cpus === 1 ? "" : "s"}`;

function showFact(id, text) {
  const value = $(id);
  const shown = text !== null;
  if (value.hidden === shown) {
    value.hidden = !shown;
    value.previousElementSibling.hidden = !shown;
  }
  if (shown) setText(id, text);
}

// limits answers null when nothing binds, else {memoryLimitBytes,
// memoryUsedBytes, cpuQuota, cpuThrottled, cpuUsage, pidsMax}.
export function render([limits]) {
  const l = limits && typeof limits === "object" ? limits : {};
  const memory = isNumber(l.memoryLimitBytes)
    ? `${isNumber(l.memoryUsedBytes) ? bytesText(l.memoryUsedBytes) : "–"} / ${bytesText(l.memoryLimitBytes)}`
    : null;
  showFact("mem-limit", memory);

  let cpu = null;
  if (isNumber(l.cpuQuota) && l.cpuQuota > 0) {
    cpu = cpusText(l.cpuQuota);
    if (isNumber(l.cpuUsage)) cpu += ` · ${Math.round((100 * l.cpuUsage) / l.cpuQuota)}% used`;
  }
  showFact("cpu-limit", cpu);
  $("cpu-limit").classList.toggle("throttled", cpu !== null && l.cpuThrottled === true);
  if (cpu !== null && l.cpuThrottled === true) setText("cpu-limit", `${cpu} · throttled`);

  setText("pids-max", isNumber(l.pidsMax) ? `max ${l.pidsMax}` : "");
}
