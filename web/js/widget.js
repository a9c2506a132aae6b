// The widget: asks the host for every section's figures in one batch each
// refresh and renders them. Until the first answer every figure shows a
// dash; while the host cannot be reached the last figures stay, dimmed,
// under a "disconnected" mark, and polling goes on so the widget recovers by
// itself when the host comes back.
import { $ } from "./dom.js";
import { nextBatch } from "./scheduler.js";
import { applySettings, settings } from "./settings-panel.js";

// In the desktop window the page draws only its card.
if (new URLSearchParams(location.search).get("frame") === "window")
  document.documentElement.classList.add("in-window");

function setConnection(state, detail) {
  const status = $("status");
  document.body.classList.toggle("disconnected", state !== "connected");
  status.hidden = state === "connected";
  status.textContent = state === "connected" ? "" : state === "error" ? "error" : "reconnecting…";
  status.title = detail || "";
}

// Sampling pauses while the page is hidden: a widget nobody sees costs
// nothing. It resumes at once when the page shows again.
let timer = null;

async function refresh() {
  timer = null;
  try {
    const batch = nextBatch();
    const results = await window.Velquette.batch(batch.calls);
    setConnection("connected");
    batch.render(results);
  } catch (error) {
    setConnection(error.status ? "error" : "disconnected", error.message);
  } finally {
    if (!document.hidden) timer = setTimeout(refresh, settings.refresh * 1000);
  }
}

document.addEventListener("visibilitychange", () => {
  if (document.hidden) {
    clearTimeout(timer);
    timer = null;
  } else if (timer === null) {
    refresh();
  }
});

applySettings();
refresh();
