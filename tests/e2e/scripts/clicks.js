// Run in the widget window by --run-script once the first figures show:
// clicks through the page as a user would and answers what each click did.
// (A simulated machine keeps what is copied; copy.js clicks on this one.)
const $ = (id) => document.getElementById(id);
const until = async (test) => {
  for (let i = 0; i < 100 && !test(); ++i) await new Promise((done) => setTimeout(done, 50));
  return test();
};
const stored = () => JSON.parse(localStorage.getItem("velquette.settings") || "{}");
const choose = (name, value) => {
  const field = $("settings").elements[name];
  field.value = value;
  field.dispatchEvent(new Event("change", { bubbles: true }));
};
const seen = {};

seen.notice = !$("module-notice").hidden;
$("module-notice-close").click();
seen.noticeAfterClose = !$("module-notice").hidden;

const firstReading = () => document.querySelector("#temperature-list .reading-value").textContent;
const celsius = firstReading();
$("temp-unit").click();
seen.unitSwitch = [$("temp-unit").textContent, await until(() => firstReading() !== celsius) && firstReading()];
$("temp-drives").click();
seen.diskSwitch = [$("temp-drives").getAttribute("aria-pressed"), stored().disk];

const address = document.querySelector(".interface-address");
address.click();
seen.copied = [address.textContent, await until(() => address.classList.contains("copied"))];

// The window follows the card: smaller without a section, back with it.
// Two sections go first, so that the card is well within the screen.
const section = (id) => $("settings").querySelector(`input[value=${id}]`);
section("processes").click();
section("volumes").click();
await new Promise((done) => setTimeout(done, 500));
const memory = section("memory");
const full = innerHeight;
memory.click();
seen.windowShrinks = await until(() => innerHeight < full);
memory.click();
seen.windowGrows = await until(() => innerHeight === full);

$("settings-button").click();
seen.settingsOpen = !$("settings").hidden;
seen.windowFitsSettings = await until(() => innerHeight > full);
choose("refresh", "5");
choose("theme", "light");
choose("unit", "2");
seen.settings = [stored().refresh, document.documentElement.dataset.theme, $("temp-unit").textContent];
const autostart = $("settings").elements.autostart;
autostart.click();
let enabled = false;
for (let i = 0; i < 50 && !enabled; ++i) {
  enabled = await window.Velquette.isAutostartEnabled();
  await new Promise((done) => setTimeout(done, 50));
}
seen.autostart = [enabled, autostart.checked];
return seen;
