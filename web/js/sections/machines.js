// Machines: every machine the host's Prometheus scrapes, one compact row
// each (name, a down marker, processor and memory bars, its hottest sensor,
// its fullest volume, its network rates). The section stays hidden while no
// Prometheus is configured.
import { $, DASH, clampPercent, element, isNumber, renderRows, setData, setNodeText, setWidth } from "../dom.js";

// Beyond this many machines the first ones show (down first, then the
// busiest, as the host orders them), and a line counts the rest.
export const MAX_SHOWN = 20;

const KIB = 1024;
function rateText(bytesPerSecond) {
  if (!isNumber(bytesPerSecond)) return DASH;
  const units = ["B/s", "KB/s", "MB/s", "GB/s"];
  let value = bytesPerSecond;
  let unit = 0;
  while (value >= KIB && unit < units.length - 1) {
    value /= KIB;
    unit += 1;
  }
  return `${value >= 10 || unit === 0 ? Math.round(value) : value.toFixed(1)}${units[unit]}`;
}
const text = (value) => (typeof value === "string" && value !== "" ? value : DASH);
const percent = (value) => (isNumber(value) ? `${Math.round(value)}%` : DASH);

function bar(className) {
  const node = element("div", `bar machine-bar ${className}`);
  node.append(element("span", "segment fill"));
  return node;
}

function makeMachineRow([instance]) {
  const row = element("div", "machine");
  row.dataset.instance = typeof instance === "string" ? instance : "";
  const head = element("div", "machine-head");
  head.append(element("span", "machine-down", "down"), element("span", "machine-name"),
    element("span", "machine-cpu"), bar("machine-cpu-bar"), element("span", "machine-memory"),
    bar("machine-memory-bar"));
  const facts = element("div", "machine-facts detail");
  facts.append(element("span", "machine-hottest"), element("span", "machine-fullest"), element("span", "machine-rates"));
  row.append(head, facts);
  return row;
}

function setBar(node, value) {
  setData(node, "percent", isNumber(value) ? String(Math.round(value)) : "");
  setWidth(node.querySelector(".fill"), clampPercent(value));
}

// A row: [instance, name, up, cpuPercent, memoryPercent, hottestLabel,
// hottestCelsius, fullestMount, fullestPercent, receiveBytesPerSecond,
// transmitBytesPerSecond, loadPerCore].
function updateMachineRow(row, [instance, name, up, cpu, memory, hotLabel, hot, mount, full, receive, transmit, load]) {
  row.classList.toggle("down", up === false);
  const title = row.querySelector(".machine-name");
  setNodeText(title, text(name) === DASH ? text(instance) : name);
  title.title = `${text(instance)}${isNumber(load) ? ` · load ${load.toFixed(2)} per core` : ""}`;
  setNodeText(row.querySelector(".machine-cpu"), percent(cpu));
  setBar(row.querySelector(".machine-cpu-bar"), cpu);
  setNodeText(row.querySelector(".machine-memory"), percent(memory));
  setBar(row.querySelector(".machine-memory-bar"), memory);
  setNodeText(row.querySelector(".machine-hottest"),
    isNumber(hot) ? `${typeof hotLabel === "string" && hotLabel ? `${hotLabel} ` : ""}${Math.round(hot)}°` : DASH);
  setNodeText(row.querySelector(".machine-fullest"), isNumber(full) ? `${text(mount)} ${Math.round(full)}%` : DASH);
  setNodeText(row.querySelector(".machine-rates"), `↓${rateText(receive)} ↑${rateText(transmit)}`);
}

// fleet answers null (no Prometheus configured), a string (why Prometheus
// cannot be reached) or the rows.
export function render([fleet]) {
  const section = $("machines");
  section.hidden = fleet === null || fleet === undefined;
  if (section.hidden) return;
  const failed = typeof fleet === "string";
  const problem = $("machines-problem");
  problem.hidden = !failed;
  if (failed) setNodeText(problem, `Prometheus unreachable: ${fleet}`);
  const list = $("machine-list");
  list.hidden = failed;
  const rows = Array.isArray(fleet) ? fleet.filter(Array.isArray) : [];
  if (!failed) renderRows(list, rows.slice(0, MAX_SHOWN), ([instance]) => instance, makeMachineRow, updateMachineRow);
  const more = $("machines-more");
  more.hidden = failed || rows.length <= MAX_SHOWN;
  setNodeText(more, more.hidden ? "" : `and ${rows.length - MAX_SHOWN} more`);
  setNodeText($("machines-count"), failed ? "" : String(rows.length));
}
