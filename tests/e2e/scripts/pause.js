// Run in the window by widget_test.cpp, which minimises it and shows it again when told.
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const real = window.Velquette;
let refreshes = 0;
window.Velquette = { ...real, batch: (calls) => (++refreshes, real.batch(calls)) };
await real.copyTextToClipboard("windowunmap");
for (let i = 0; i < 200 && !document.hidden; ++i) await sleep(50);
const before = refreshes;
await sleep(3500);
const whileHidden = refreshes - before;
await real.copyTextToClipboard("windowmap");
for (let i = 0; i < 200 && refreshes === before + whileHidden; ++i) await sleep(50);
return { whileHidden, resumed: refreshes > before + whileHidden };
