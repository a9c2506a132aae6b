// Run in the widget window on this machine by --run-script: counts the
// page's refreshes while the window cannot be seen. It asks the test to hide
// the window and later to show it again by copying "hide" and "show" (the
// test's stand-in clipboard program keeps them), and answers how many
// refreshes ran in 3.5 s of hiding (at one a second) and whether one ran
// again once the window showed.
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const real = window.Velquette;
let refreshes = 0;
window.Velquette = { ...real, batch: (calls) => (++refreshes, real.batch(calls)) };
let hidden = false;
document.addEventListener("visibilitychange", () => { hidden ||= document.hidden; });
document.addEventListener("velquette-window", (event) => { hidden ||= event.detail.shown === false; });

await real.copyTextToClipboard("hide");
for (let i = 0; i < 200 && !hidden; ++i) await sleep(50);
if (!hidden) return "the page was never told it is hidden";
const before = refreshes;
await sleep(3500);
const whileHidden = refreshes - before;
await real.copyTextToClipboard("show");
for (let i = 0; i < 200 && refreshes === before + whileHidden; ++i) await sleep(50);
return { whileHidden, resumed: refreshes > before + whileHidden };
