// GPU: one row per graphics processor with its load, video memory,
// temperature (in the page's unit), power and clock, and a history line of
// the busiest one's load. A machine without a GPU hides the section.
import { $, DASH, element, isNumber, renderRows, setNodeText, setText } from "../dom.js";
import { settings } from "../settings-panel.js";
import { Sparkline } from "../sparkline.js";

const gpuHistory = new Sparkline($("gpu-history"), ["busy"], { fixedMax: 100 });

const gigabytes = (bytes) => (bytes / 1024 ** 3).toFixed(1);

// As the Temperatures section writes them: "47°", "117°", "320K".
function temperatureText(celsius) {
  if (!isNumber(celsius)) return null;
  if (settings.unit === 1) return `${Math.trunc(celsius * 9 / 5 + 32)}°`;
  if (settings.unit === 2) return `${Math.trunc(celsius + 273.15)}K`;
  return `${Math.trunc(celsius)}°`;
}

function makeGpuRow() {
  const row = element("div", "gpu");
  const head = element("div", "gpu-head");
  head.append(element("span", "gpu-name"), element("span", "gpu-busy"));
  row.append(head, element("div", "gpu-figures detail"));
  return row;
}

// gpus answers one [name, busyPercent, vramUsedBytes, vramTotalBytes,
// celsius, watts, megahertz, asleep] per GPU, null for what is unknown.
function updateGpuRow(row, [name, busy, used, total, celsius, watts, megahertz, asleep]) {
  row.classList.toggle("asleep", asleep === true);
  setNodeText(row.querySelector(".gpu-name"), typeof name === "string" && name ? name : "GPU");
  setNodeText(row.querySelector(".gpu-busy"), asleep === true ? "asleep" : isNumber(busy) ? `${Math.round(busy)}%` : DASH);
  const parts = [];
  if (isNumber(total)) parts.push(`VRAM ${isNumber(used) ? gigabytes(used) : DASH} / ${gigabytes(total)}gb`);
  const temperature = temperatureText(celsius);
  if (temperature) parts.push(temperature);
  if (isNumber(watts)) parts.push(`${watts.toFixed(watts < 10 ? 1 : 0)} W`);
  if (isNumber(megahertz)) parts.push(`${Math.round(megahertz)} MHz`);
  setNodeText(row.querySelector(".gpu-figures"), parts.join(" · "));
}

// The answer of gpus.
export function render([gpus]) {
  const rows = Array.isArray(gpus) ? gpus.filter(Array.isArray) : [];
  $("gpu").hidden = rows.length === 0;
  if (rows.length === 0) return;
  renderRows($("gpu-list"), rows, ([name]) => name, makeGpuRow, updateGpuRow, false);
  const loads = rows.map((row) => row[1]).filter(isNumber);
  const busiest = loads.length ? Math.max(...loads) : null;
  setText("gpu-busy", isNumber(busiest) ? String(Math.round(busiest)) : DASH);
  gpuHistory.push(busiest);
}
