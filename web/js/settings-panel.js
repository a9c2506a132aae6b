// The settings as the page uses them, and the form that changes them. A
// change is kept at once and shown on the page; the refresh that follows
// sends its calls by the new settings.
import { $ } from "./dom.js";
import * as Settings from "./settings.js";

// The page's settings, read once at load and changed in place.
export const settings = Settings.load();

// Sections that show a setting of their own (the temperature switches) are
// told each time the settings are shown.
const appliedListeners = [];
export function onSettingsApplied(listener) {
  appliedListeners.push(listener);
}

// Shows the settings on the page: theme, layout, sections switched off,
// the temperature switches, and the form's fields.
export function applySettings() {
  const root = document.documentElement;
  root.dataset.theme = settings.theme;
  root.dataset.layout = settings.layout;
  for (const id of Settings.SECTIONS) $(id).toggleAttribute("data-off", settings.hidden.includes(id));
  for (const listener of appliedListeners) listener(settings);
  const form = $("settings");
  form.elements.refresh.value = String(settings.refresh);
  form.elements.unit.value = String(settings.unit);
  form.elements.disk.checked = settings.disk;
  form.elements.theme.value = settings.theme;
  form.elements.layout.value = settings.layout;
  for (const box of form.querySelectorAll("input[name=section]")) box.checked = !settings.hidden.includes(box.value);
}

export function changeSettings(change) {
  Object.assign(settings, Settings.sanitize({ ...settings, ...change }));
  Settings.save(settings);
  applySettings();
}

// Starting with the desktop belongs to the machine, not to this browser:
// the host keeps it, and the box shows what the host answers.
const autostartBox = $("settings").elements.autostart;
async function showAutostart(change) {
  try {
    if (change !== undefined) await window.Velquette.setAutostart(change ? 1 : 0);
    autostartBox.checked = (await window.Velquette.isAutostartEnabled()) === true;
  } catch {
    autostartBox.checked = false;
  }
}
autostartBox.addEventListener("change", (event) => {
  event.stopPropagation();
  showAutostart(autostartBox.checked);
});

// The Prometheus of the Machines section is the host's: it stores the URL
// (credentials stay in its configuration file) and says why it refuses one.
const prometheusField = $("settings").elements.prometheus;
async function showPrometheus(change) {
  try {
    if (change !== undefined) {
      const refusal = await window.Velquette.setPrometheusUrl(change);
      $("prometheus-status").textContent = refusal ? refusal : "saved";
      if (refusal) return;
    }
    prometheusField.value = (await window.Velquette.prometheusUrl()) || "";
  } catch (error) {
    $("prometheus-status").textContent = error.message;
  }
}
prometheusField.addEventListener("change", (event) => event.stopPropagation());
$("prometheus-use").addEventListener("click", () => showPrometheus(prometheusField.value.trim()));
// The alert rules belong to the host too (alerts.conf): a rule's settings
// are read when it is chosen, and each change is sent on its own; a refused
// value shows the host's reason and the fields go back to what it keeps.
const ALERT_KEYS = ["warning", "critical", "for", "clear", "clear_for"];
const alertForm = $("alert-rules");
const alertField = (key) => $("settings").elements[`alert-${key}`];
async function showAlertRule(key, value) {
  const rule = alertField("rule").value;
  try {
    if (key !== undefined) $("alert-rule-reason").textContent = await window.Velquette.setAlertRule(rule, key, value);
    const settings = (await window.Velquette.alertRule(rule)) || {};
    alertField("enabled").checked = settings.enabled === true;
    for (const k of ALERT_KEYS) {
      alertField(k).value = settings[k] ?? "";
      alertField(k).disabled = settings[k] === null;
    }
  } catch {
    $("alert-rule-reason").textContent = "the host does not answer";
  }
}
alertForm.addEventListener("change", (event) => {
  event.stopPropagation();
  const name = event.target.name.replace(/^alert-/, "");
  if (name === "rule") showAlertRule();
  else if (name === "enabled") showAlertRule("enabled", event.target.checked);
  else if (event.target.value !== "") showAlertRule(name, Number(event.target.value));
});

$("settings").addEventListener("change", () => {
  const form = $("settings");
  changeSettings({
    refresh: Number(form.elements.refresh.value),
    unit: Number(form.elements.unit.value),
    disk: form.elements.disk.checked,
    theme: form.elements.theme.value,
    layout: form.elements.layout.value,
    hidden: [...form.querySelectorAll("input[name=section]")].filter((box) => !box.checked).map((box) => box.value),
  });
});
$("settings").addEventListener("submit", (event) => event.preventDefault());

$("settings-button").addEventListener("click", () => {
  const open = $("settings").hidden;
  // Asked when the settings open, so a refresh stays one round trip.
  if (open) {
    showAutostart();
    showPrometheus();
    showAlertRule();
  }
  $("settings").hidden = !open;
  $("settings-button").setAttribute("aria-expanded", String(open));
});
