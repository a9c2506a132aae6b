// The processor: the shares of the whole machine, one bar per core, its
// history line, and the load, uptime and task count.
import { $, DASH, clampPercent, isNumber, lineText, percentText, setData, setNodeText, setText, setWidth }
  from "../dom.js";
import { Sparkline } from "../sparkline.js";

// cpuUsage answers [[system, user, nice, idle, busy], [[busy, system, user,
// nice], ...one per core]], or null before the first sample.
const cpuHistory = new Sparkline($("cpu-history"), ["busy"], { fixedMax: 100 });

// The answers of cpuUsage, load, uptime and processinfo.
export function render([usage, load, uptime, processinfo]) {
  const summary = Array.isArray(usage) && Array.isArray(usage[0]) ? usage[0] : [];
  const cores = Array.isArray(usage) && Array.isArray(usage[1]) ? usage[1] : [];
  const [system, user, nice, idle, busy] = summary;

  setText("cpu-system", percentText(system));
  setText("cpu-user", percentText(user));
  setText("cpu-nice", percentText(nice));
  setText("cpu-idle", percentText(idle));
  setText("cpu-busy", percentText(busy));
  cpuHistory.push(busy);
  renderCores(cores);

  setText("load", lineText(load));
  setText("uptime", lineText(uptime));
  setText("processinfo", lineText(processinfo));
}

function makeCoreRow(index) {
  const row = document.createElement("div");
  row.className = "core";
  const label = document.createElement("span");
  label.className = "core-label";
  label.textContent = String(index + 1);
  const bar = document.createElement("div");
  bar.className = "core-bar";
  for (const kind of ["system", "user", "nice"]) {
    const segment = document.createElement("span");
    segment.className = `segment ${kind}`;
    bar.append(segment);
  }
  const value = document.createElement("span");
  value.className = "core-value";
  row.append(label, bar, value);
  return row;
}

function renderCores(cores) {
  const list = $("cores");
  if (list.children.length !== cores.length) {
    list.replaceChildren(...cores.map((_, index) => makeCoreRow(index)));
    list.classList.toggle("many", cores.length > 4);
  }
  cores.forEach((core, index) => {
    const [busy, system, user, nice] = Array.isArray(core) ? core : [];
    const row = list.children[index];
    const bar = row.querySelector(".core-bar");
    setData(bar, "busy", isNumber(busy) ? String(busy) : "");
    // Shares are drawn end to end; never past the track, whatever rounding
    // the host did.
    let room = 100;
    for (const [kind, share] of [["system", system], ["user", user], ["nice", nice]]) {
      const width = Math.min(room, clampPercent(share));
      room -= width;
      setWidth(bar.querySelector(`.segment.${kind}`), width);
    }
    setNodeText(row.querySelector(".core-value"), isNumber(busy) ? `${Math.trunc(busy)}%` : DASH);
  });
}
