// Memory: the share in use, its bar of wired and active memory, and the
// figures behind it.
import { $, clampPercent, isNumber, lineText, percentText, setData, setText, setWidth } from "../dom.js";

// memoryUsage answers [free, used, active, inactive, wired, used %,
// page-ins, page-outs, free + inactive, swap, wired %, active %], or null
// before the first sample.
export function render([usage]) {
  const [free, used, active, inactive, wired, usedPercent, pageins, pageouts, , swap, wiredPercent,
    activePercent] = Array.isArray(usage) ? usage : [];

  setText("mem-used-percent", percentText(usedPercent));
  setText("mem-free", lineText(free));
  setText("mem-used", lineText(used));
  setText("mem-active", lineText(active));
  setText("mem-inactive", lineText(inactive));
  setText("mem-wired", lineText(wired));
  setText("mem-pageins", lineText(pageins));
  setText("mem-pageouts", lineText(pageouts));
  setText("mem-swap", lineText(swap));

  const bar = $("mem-bar");
  setData(bar, "used", isNumber(usedPercent) ? String(Math.trunc(usedPercent)) : "");
  let room = 100;
  for (const [kind, share] of [["wired", wiredPercent], ["active", activePercent]]) {
    const width = Math.min(room, clampPercent(share));
    room -= width;
    setWidth(bar.querySelector(`.segment.${kind}`), width);
  }
}
