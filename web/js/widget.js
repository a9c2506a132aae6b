// The widget: asks the host for every section's figures in one batch each
// refresh and renders them. Until the first answer every figure shows a
// dash; while the host cannot be reached the last figures stay, dimmed,
// under a "disconnected" mark, and polling goes on so the widget recovers by
// itself when the host comes back.
import { $ } from "./dom.js";
import { nextBatch } from "./scheduler.js";
import { applySettings, settings } from "./settings-panel.js";

// In the desktop window the page draws only its card, and tells the window
// (through WebKit's message handlers) how tall the card is, whenever that
// changes, and once that its first figures are shown.
const inWindow = new URLSearchParams(location.search).get("frame") === "window";
const toWindow = (name, value) => window.webkit?.messageHandlers?.[name]?.postMessage(value);
if (inWindow) {
  document.documentElement.classList.add("in-window");
  const card = $("widget");
  new ResizeObserver(() => {
    const margins = parseFloat(getComputedStyle(card).marginTop) + parseFloat(getComputedStyle(card).marginBottom);
    toWindow("velquetteHeight", Math.ceil(card.getBoundingClientRect().height + margins));
  }).observe(card);
}
let figuresShown = false;

function setConnection(state, detail) {
  const status = $("status");
  document.body.classList.toggle("disconnected", state !== "connected");
  status.hidden = state === "connected";
  status.textContent = state === "connected" ? "" : state === "error" ? "error" : "reconnecting…";
  status.title = detail || "";
}

// Sampling pauses while the page is hidden (a browser tab in the
// background, a minimised window) or the desktop window is fully covered: a
// widget nobody sees costs nothing. It resumes at once when it shows again.
let timer = null;
let inFlight = false;
let windowShown = true;
const paused = () => document.hidden || !windowShown;

async function refresh() {
  timer = null;
  inFlight = true;
  try {
    const batch = nextBatch();
    const results = await window.Velquette.batch(batch.calls);
    setConnection("connected");
    batch.render(results);
    if (!figuresShown) {
      figuresShown = true;
      toWindow("velquetteFigures", true);
    }
  } catch (error) {
    setConnection(error.status ? "error" : "disconnected", error.message);
  } finally {
    inFlight = false;
    if (!paused()) timer = setTimeout(refresh, settings.refresh * 1000);
  }
}

function pauseOrResume() {
  if (paused()) {
    clearTimeout(timer);
    timer = null;
  } else if (timer === null && !inFlight) {
    // A refresh under way sets its own timer when it ends.
    refresh();
  }
}
document.addEventListener("visibilitychange", pauseOrResume);
// The desktop window says when it is covered or shown again.
document.addEventListener("velquette-window", (event) => {
  windowShown = event.detail?.shown !== false;
  pauseOrResume();
});

applySettings();
refresh();
