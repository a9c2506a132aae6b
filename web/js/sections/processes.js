// Processes: the busiest processes, each named with its icon once the host
// told their names; the host's own row is marked.
import { $, DASH, element, iconUrl, isNumber, lineText, renderRows, setNodeText } from "../dom.js";

// topProcesses answers one [pid, CPU %, resident memory] per process,
// busiest first. Names and icons are asked with getPsName and getAppPath
// (and getPsUnit, the service or container) for pids the page has not named yet, and kept while the pid stays in the
// list. The host's own pid never changes, so it is asked until it is known.
const processNames = new Map();  // pid -> {name, icon}
let shownPids = [];
let lastTop = [];
let selfPid = null;

export const selfPidKnown = () => selfPid !== null;

// The pids shown that have no name yet.
export const unnamedPids = () => shownPids.filter((pid) => !processNames.has(pid));

function makeProcessRow([pid]) {
  const row = element("div", "process");
  row.dataset.pid = String(pid);
  const picture = element("span", "process-icon stand-in");
  const name = element("span", "process-name", isNumber(pid) ? `pid ${pid}` : DASH);
  row.append(picture, name, element("span", "process-unit"), element("span", "process-self"),
    element("span", "process-cpu"),
    element("span", "process-memory"));
  return row;
}

function updateProcessRow(row, [pid, cpu, memory]) {
  const known = processNames.get(pid);
  if (known) {
    setNodeText(row.querySelector(".process-name"), known.name);
    setNodeText(row.querySelector(".process-unit"), known.unit);
    const picture = row.querySelector(".process-icon");
    if (known.icon && !picture.querySelector("img")) {
      const img = element("img");
      img.alt = "";
      img.width = 16;
      img.height = 16;
      img.addEventListener("load", () => picture.classList.remove("stand-in"));
      img.addEventListener("error", () => img.remove());
      img.src = known.icon;
      picture.append(img);
    }
  }
  const self = pid === selfPid;
  row.classList.toggle("self", self);
  setNodeText(row.querySelector(".process-self"), self ? "host" : "");
  setNodeText(row.querySelector(".process-cpu"), isNumber(cpu) ? `${cpu.toFixed(1)}%` : DASH);
  setNodeText(row.querySelector(".process-memory"), lineText(memory));
}

function showProcesses() {
  renderRows($("process-list"), lastTop, ([pid]) => pid, makeProcessRow, updateProcessRow, false);
}

// The answers of topProcesses and, until it is known, getselfpid.
export function render([top, ownPid]) {
  if (isNumber(ownPid)) selfPid = ownPid;
  const rows = Array.isArray(top) ? top.filter((row) => Array.isArray(row) && isNumber(row[0])) : [];
  shownPids = rows.map(([pid]) => pid);
  for (const pid of processNames.keys()) if (!shownPids.includes(pid)) processNames.delete(pid);
  lastTop = Array.isArray(top) ? rows : top;
  showProcesses();
}

// The answers of getPsName, getAppPath and getPsUnit, in turn, for each
// of `pids`.
export const NAME_CALLS = ["getPsName", "getAppPath", "getPsUnit"];
export function renderNames(pids, names) {
  const size = NAME_CALLS.length;
  pids.forEach((pid, index) => {
    const [name, icon, unit] = names.slice(index * size, index * size + size);
    if (typeof name === "string") {
      processNames.set(pid, { name, icon: iconUrl(icon), unit: typeof unit === "string" ? unit : "" });
    }
  });
  showProcesses();
}
