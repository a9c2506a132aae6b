// Temperatures: the machine's sensors in the chosen unit, with the switches
// for the unit and for the start-up disk's own temperature.
import { $, setText } from "../dom.js";
import { changeSettings, onSettingsApplied, settings } from "../settings-panel.js";
import { renderReadings } from "./readings.js";

// The host's unit codes 0, 1 and 2 and their labels.
const UNIT_LABELS = ["°C", "°F", "K"];

onSettingsApplied(() => {
  setText("temp-unit", UNIT_LABELS[settings.unit]);
  $("temp-drives").setAttribute("aria-pressed", String(settings.disk));
});

$("temp-unit").addEventListener("click", () => changeSettings({ unit: (settings.unit + 1) % UNIT_LABELS.length }));
$("temp-drives").addEventListener("click", () => changeSettings({ disk: !settings.disk }));

// Once a disk entry was seen, the section stays up so that the switch can
// be turned on again.
let drivesSeen = false;

// The answers of the temperature calls; the readings are the last of them.
export function render(results) {
  const temps = results[results.length - 1];
  if (settings.disk && Array.isArray(temps) && temps.some((t) => Array.isArray(t) && /^HD: /.test(t[0])))
    drivesSeen = true;
  renderReadings("temperatures", "temperature-list", temps, drivesSeen);
}
