// The notice that the Intel sensor module is missing. The module is what
// reads an Intel Mac's fans through its SMC, so the notice shows only on an
// Intel machine whose SMC answers, that lacks the module and shows no fans
// from any other source, until the user dismisses it.
import { $ } from "../dom.js";

const NOTICE_KEY = "velquette.moduleNotice";

// Whether the notice can ever show on this machine: an Intel processor and
// an SMC; null until the host answered.
let machineFits = null;
export const machineMayNeedModule = () => machineFits;

export function dismissed() {
  try {
    return localStorage.getItem(NOTICE_KEY) === "dismissed";
  } catch {
    return false;
  }
}

// The answers of isIntel and hasSMC (when they were asked), then those of
// needsIntelBundle and fans.
export function render(results) {
  if (results.length === 4) machineFits = results[0] === true && results[1] === true;
  const [needsModule, fans] = results.slice(-2);
  const noFans = Array.isArray(fans) && fans.length === 0;
  $("module-notice").hidden = !(machineFits && needsModule === true && noFans);
}

$("module-notice-close").addEventListener("click", () => {
  $("module-notice").hidden = true;
  try {
    localStorage.setItem(NOTICE_KEY, "dismissed");
  } catch {
    // Without storage the notice comes back with the next visit only.
  }
});
