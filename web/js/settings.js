// The widget's settings: refresh interval, temperature unit, the disk's own
// temperature, theme, layout and which sections are shown. They are kept in
// the browser's storage where it allows, and can also be given in the
// address's hash ("#theme=light&refresh=5&hide=fans,processes"), as a
// launcher or a test would; what the hash sets is kept too.

const KEY = "velquette.settings";
export const SECTIONS = ["cpu", "processes", "memory", "volumes", "network", "gpu", "temperatures", "fans", "battery", "machines"];
export const REFRESH_SECONDS = [1, 2, 5, 10];
export const THEMES = ["system", "dark", "light"];
export const LAYOUTS = ["detailed", "compact"];
export const DEFAULTS = Object.freeze({ refresh: 1, unit: 0, disk: true, theme: "system", layout: "detailed", hidden: [] });

// Anything stored or typed that is not a known value falls back to the default.
export function sanitize(raw) {
  const value = raw && typeof raw === "object" ? raw : {};
  return {
    refresh: REFRESH_SECONDS.includes(value.refresh) ? value.refresh : DEFAULTS.refresh,
    unit: [0, 1, 2].includes(value.unit) ? value.unit : DEFAULTS.unit,
    disk: typeof value.disk === "boolean" ? value.disk : DEFAULTS.disk,
    theme: THEMES.includes(value.theme) ? value.theme : DEFAULTS.theme,
    layout: LAYOUTS.includes(value.layout) ? value.layout : DEFAULTS.layout,
    hidden: Array.isArray(value.hidden) ? SECTIONS.filter((id) => value.hidden.includes(id)) : [],
  };
}

// The hash's settings on top of `base`: refresh=N, unit=0|1|2 (or C, F,
// K), disk=0|1, theme=…, layout=…, hide=id,id (hide= shows every section).
export function fromHash(hash, base) {
  const params = new URLSearchParams(hash.replace(/^#/, ""));
  const next = { ...base };
  if (params.has("refresh")) next.refresh = Number(params.get("refresh"));
  if (params.has("unit")) {
    const unit = params.get("unit").toUpperCase();
    next.unit = { C: 0, F: 1, K: 2 }[unit] ?? Number(unit);
  }
  if (params.has("disk")) next.disk = params.get("disk") !== "0";
  if (params.has("theme")) next.theme = params.get("theme");
  if (params.has("layout")) next.layout = params.get("layout");
  if (params.has("hide")) next.hidden = params.get("hide").split(",").filter(Boolean);
  return sanitize(next);
}

function stored() {
  try {
    return JSON.parse(localStorage.getItem(KEY) || "{}");
  } catch {
    return {};
  }
}

export function save(settings) {
  try {
    localStorage.setItem(KEY, JSON.stringify(settings));
  } catch {
    // Without storage the settings last until the page reloads.
  }
}

export function load() {
  const settings = fromHash(location.hash, sanitize(stored()));
  if (location.hash) save(settings);
  return settings;
}
