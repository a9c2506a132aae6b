// The notice that the Intel sensor module is missing: on an Intel machine
// without it the page says how to install it, until the user dismisses it.
import { $ } from "../dom.js";

const NOTICE_KEY = "velquette.moduleNotice";

// Whether the processor is an Intel one; null until the host answered.
let intel = null;
export const processorIsIntel = () => intel;

export function dismissed() {
  try {
    return localStorage.getItem(NOTICE_KEY) === "dismissed";
  } catch {
    return false;
  }
}

// The answers of isIntel (when it was asked) and needsIntelBundle.
export function render(results) {
  if (results.length === 2) intel = results[0] === true;
  $("module-notice").hidden = !(intel && results[results.length - 1] === true);
}

$("module-notice-close").addEventListener("click", () => {
  $("module-notice").hidden = true;
  try {
    localStorage.setItem(NOTICE_KEY, "dismissed");
  } catch {
    // Without storage the notice comes back with the next visit only.
  }
});
