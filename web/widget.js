// The widget: asks the host for every section's figures in one batch each
// second and renders them. Until the first answer every figure shows a dash;
// while the host cannot be reached the last figures stay, dimmed, under a
// "disconnected" mark, and polling goes on so the widget recovers by itself
// when the host comes back.
"use strict";

(() => {
  const Settings = window.VelquetteSettings;
  const settings = Settings.load();

  // In the desktop window the page draws only its card.
  if (new URLSearchParams(location.search).get("frame") === "window")
    document.documentElement.classList.add("in-window");
  const DASH = "–";

  const $ = (id) => document.getElementById(id);
  const isNumber = (value) => typeof value === "number" && Number.isFinite(value);
  const percentText = (value) => (isNumber(value) ? String(Math.trunc(value)) : DASH);
  const lineText = (value) => (typeof value === "string" && value !== "" ? value : DASH);
  const clampPercent = (value) => (isNumber(value) ? Math.min(100, Math.max(0, value)) : 0);

  function setText(id, text) {
    const element = $(id);
    if (element.textContent !== text) element.textContent = text;
  }

  // ---- CPU ---------------------------------------------------------------

  // cpuUsage answers [[system, user, nice, idle, busy], [[busy, system, user,
  // nice], ...one per core]], or null before the first sample.
  const cpuHistory = new window.Sparkline($("cpu-history"), ["busy"], { fixedMax: 100 });

  function renderCPU([usage, load, uptime, processinfo]) {
    const summary = Array.isArray(usage) && Array.isArray(usage[0]) ? usage[0] : [];
    const cores = Array.isArray(usage) && Array.isArray(usage[1]) ? usage[1] : [];
    const [system, user, nice, idle, busy] = summary;

    setText("cpu-system", percentText(system));
    setText("cpu-user", percentText(user));
    setText("cpu-nice", percentText(nice));
    setText("cpu-idle", percentText(idle));
    setText("cpu-busy", percentText(busy));
    cpuHistory.push(busy);
    renderCores(cores);

    setText("load", lineText(load));
    setText("uptime", lineText(uptime));
    setText("processinfo", lineText(processinfo));
  }

  function makeCoreRow(index) {
    const row = document.createElement("div");
    row.className = "core";
    const label = document.createElement("span");
    label.className = "core-label";
    label.textContent = String(index + 1);
    const bar = document.createElement("div");
    bar.className = "core-bar";
    for (const kind of ["system", "user", "nice"]) {
      const segment = document.createElement("span");
      segment.className = `segment ${kind}`;
      bar.append(segment);
    }
    const value = document.createElement("span");
    value.className = "core-value";
    row.append(label, bar, value);
    return row;
  }

  function renderCores(cores) {
    const list = $("cores");
    if (list.children.length !== cores.length) {
      list.replaceChildren(...cores.map((_, index) => makeCoreRow(index)));
      list.classList.toggle("many", cores.length > 4);
    }
    cores.forEach((core, index) => {
      const [busy, system, user, nice] = Array.isArray(core) ? core : [];
      const row = list.children[index];
      const bar = row.querySelector(".core-bar");
      bar.dataset.busy = isNumber(busy) ? String(busy) : "";
      // Shares are drawn end to end; never past the track, whatever rounding
      // the host did.
      let room = 100;
      for (const [kind, share] of [["system", system], ["user", user], ["nice", nice]]) {
        const width = Math.min(room, clampPercent(share));
        room -= width;
        bar.querySelector(`.segment.${kind}`).style.width = `${width}%`;
      }
      row.querySelector(".core-value").textContent = isNumber(busy) ? `${Math.trunc(busy)}%` : DASH;
    });
  }

  // ---- Memory ------------------------------------------------------------

  // memoryUsage answers [free, used, active, inactive, wired, used %,
  // page-ins, page-outs, free + inactive, swap, wired %, active %], or null
  // before the first sample.
  function renderMemory([usage]) {
    const [free, used, active, inactive, wired, usedPercent, pageins, pageouts, , swap, wiredPercent,
      activePercent] = Array.isArray(usage) ? usage : [];

    setText("mem-used-percent", percentText(usedPercent));
    setText("mem-free", lineText(free));
    setText("mem-used", lineText(used));
    setText("mem-active", lineText(active));
    setText("mem-inactive", lineText(inactive));
    setText("mem-wired", lineText(wired));
    setText("mem-pageins", lineText(pageins));
    setText("mem-pageouts", lineText(pageouts));
    setText("mem-swap", lineText(swap));

    const bar = $("mem-bar");
    bar.dataset.used = isNumber(usedPercent) ? String(Math.trunc(usedPercent)) : "";
    let room = 100;
    for (const [kind, share] of [["wired", wiredPercent], ["active", activePercent]]) {
      const width = Math.min(room, clampPercent(share));
      room -= width;
      bar.querySelector(`.segment.${kind}`).style.width = `${width}%`;
    }
  }

  // ---- Lists of rows (volumes, interfaces) ---------------------------------

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function setNodeText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  // Renders one row per item into a list, rebuilding the rows only when the
  // items' keys changed (or `force` is set) and updating them in place
  // otherwise, so pictures are not reloaded every second. An answer that is
  // not a list shows the placeholder; an empty list says "none".
  function renderRows(list, items, keyOf, makeRow, updateRow, force) {
    if (!Array.isArray(items)) {
      if (list.dataset.keys !== "") {
        list.replaceChildren(element("p", "empty", DASH));
        list.dataset.keys = "";
      }
      return;
    }
    const rows = items.filter(Array.isArray);
    const keys = JSON.stringify(rows.map(keyOf));
    if (force || list.dataset.keys !== keys) {
      list.replaceChildren(...(rows.length ? rows.map(makeRow) : [element("p", "empty", "none")]));
      list.dataset.keys = keys;
    }
    if (rows.length) rows.forEach((item, index) => updateRow(list.children[index], item));
  }

  // ---- Volumes -----------------------------------------------------------

  // diskUsage answers one [name, used %, used, free, mount path, icon URL]
  // per volume. The host hands icons out as URLs under /icons/; anything
  // else (no icon cache) gets the drawn stand-in.
  const iconUrl = (value) => (typeof value === "string" && value.startsWith("/icons/") ? value : "");

  function makeVolumeRow([name, , , , path, icon]) {
    const row = element("div", "volume");
    row.dataset.path = typeof path === "string" ? path : "";
    const picture = element("span", "volume-icon");
    const url = iconUrl(icon);
    if (url) {
      const img = element("img");
      img.alt = "";
      img.width = 20;
      img.height = 20;
      img.addEventListener("load", () => { img.dataset.loaded = img.naturalWidth > 0 ? "true" : "false"; });
      img.addEventListener("error", () => {
        img.dataset.loaded = "false";
        picture.classList.add("no-icon");
      });
      img.src = url;
      picture.append(img);
    } else {
      picture.classList.add("no-icon");
    }
    const title = element("span", "volume-name", typeof name === "string" ? name : DASH);
    title.title = row.dataset.path;
    const percent = element("span", "volume-percent");
    const bar = element("div", "bar volume-bar");
    bar.append(element("span", "segment fill"));
    const sizes = element("span", "volume-sizes");
    sizes.append(element("b", "volume-used"), " used · ", element("b", "volume-free"), " free");
    row.append(picture, title, percent, bar, sizes);
    return row;
  }

  function updateVolumeRow(row, [, percent, used, free]) {
    const share = clampPercent(percent);
    setNodeText(row.querySelector(".volume-percent"), isNumber(percent) ? `${Math.trunc(percent)}%` : DASH);
    const bar = row.querySelector(".volume-bar");
    bar.dataset.used = isNumber(percent) ? String(Math.trunc(percent)) : "";
    bar.classList.toggle("full", share >= 90);
    bar.querySelector(".fill").style.width = `${share}%`;
    setNodeText(row.querySelector(".volume-used"), lineText(used));
    setNodeText(row.querySelector(".volume-free"), lineText(free));
  }

  function renderVolumes([changed, volumes]) {
    // A mount or unmount since the last refresh: draw every row afresh,
    // icons included.
    renderRows($("volume-list"), volumes, ([name, , , , path, icon]) => [name, path, icon],
      makeVolumeRow, updateVolumeRow, changed === true);
  }

  // ---- Network -----------------------------------------------------------

  // network answers one [name, kind, IPv4 address, receive rate, send rate,
  // total received, total sent] per interface, in the kernel's order, or
  // null before the first sample.
  function makeInterfaceRow([name]) {
    const row = element("div", "interface");
    row.dataset.name = typeof name === "string" ? name : "";
    const head = element("div", "interface-head");
    head.append(element("span", "interface-name"), element("span", "interface-kind"),
      element("span", "interface-address"));
    const traffic = element("div", "interface-traffic");
    const down = element("span", "rate down");
    down.append(element("i", "arrow", "↓"), element("b", "interface-in"));
    const up = element("span", "rate up");
    up.append(element("i", "arrow", "↑"), element("b", "interface-out"));
    const totals = element("span", "interface-totals");
    totals.append("Σ ", element("span", "interface-total-in"), " / ", element("span", "interface-total-out"));
    traffic.append(down, up, totals);
    row.append(head, traffic);
    return row;
  }

  // Clicking an interface's IPv4 address copies it to the clipboard.
  const IPV4 = /^\d{1,3}(\.\d{1,3}){3}$/;
  document.addEventListener("click", (event) => {
    const address = event.target.closest && event.target.closest(".interface-address");
    if (!address || !IPV4.test(address.textContent)) return;
    window.Velquette.copyTextToClipboard(address.textContent).then(() => {
      address.classList.add("copied");
      setTimeout(() => address.classList.remove("copied"), 1000);
    }, (error) => console.error("copy failed", error));
  });

  function updateInterfaceRow(row, [name, kind, address, inRate, outRate, totalIn, totalOut]) {
    setNodeText(row.querySelector(".interface-name"), lineText(name));
    setNodeText(row.querySelector(".interface-kind"), lineText(kind));
    // An interface without an IPv4 address answers "".
    const shownAddress = row.querySelector(".interface-address");
    setNodeText(shownAddress, typeof address === "string" ? address : DASH);
    shownAddress.title = IPV4.test(shownAddress.textContent) ? "Click to copy" : "";
    setNodeText(row.querySelector(".interface-in"), lineText(inRate));
    setNodeText(row.querySelector(".interface-out"), lineText(outRate));
    setNodeText(row.querySelector(".interface-total-in"), lineText(totalIn));
    setNodeText(row.querySelector(".interface-total-out"), lineText(totalOut));
  }

  // hasNetworkSetupChanged is asked first in the same batch: when the setup
  // changed it makes the network call rebuild its interface list.
  const networkHistory = new window.Sparkline($("network-history"), ["down", "up"]);

  function renderNetwork([, interfaces]) {
    renderRows($("interface-list"), interfaces, ([name]) => name, makeInterfaceRow, updateInterfaceRow, false);
    // The history adds up every interface's rates.
    const rows = Array.isArray(interfaces) ? interfaces.filter(Array.isArray) : [];
    const sum = (index) => rows.reduce((total, row) => total + (window.Sparkline.rateBytes(row[index]) || 0), 0);
    networkHistory.push(sum(3), sum(4));
  }

  // ---- Temperatures and fans ----------------------------------------------

  // The host's unit codes 0, 1 and 2 and their labels.
  const UNIT_LABELS = ["°C", "°F", "K"];
  function showUnit() { setText("temp-unit", UNIT_LABELS[settings.unit]); }

  $("temp-unit").addEventListener("click", () => changeSettings({ unit: (settings.unit + 1) % UNIT_LABELS.length }));

  // The start-up disk's temperature comes from the drive itself, so it is
  // asked for afresh only every DRIVE_REFRESH_MS. Once a disk entry was seen,
  // the section stays up so that the switch can be turned on again.
  const DRIVE_REFRESH_MS = 60000;
  let lastDriveRefresh = -Infinity;
  let drivesSeen = false;

  function showDrives() { $("temp-drives").setAttribute("aria-pressed", String(settings.disk)); }

  $("temp-drives").addEventListener("click", () => {
    lastDriveRefresh = -Infinity;
    changeSettings({ disk: !settings.disk });
  });

  function temperatureCalls() {
    const calls = [["setShouldMonitorSMARTTemps", [settings.disk ? 1 : 0]]];
    const now = performance.now();
    if (settings.disk && now - lastDriveRefresh >= DRIVE_REFRESH_MS) {
      lastDriveRefresh = now;
      calls.push(["setNeedsSMARTUpdate"]);
    }
    calls.push(["temps", [settings.unit]]);
    return calls;
  }

  function renderTemperatures(results) {
    const temps = results[results.length - 1];
    if (settings.disk && Array.isArray(temps) && temps.some((t) => Array.isArray(t) && /^HD: /.test(t[0])))
      drivesSeen = true;
    renderReadings("temperatures", "temperature-list", temps, drivesSeen);
  }

  const makeReadingRow = () => {
    const row = element("div", "reading");
    row.append(element("span", "reading-name"), element("span", "reading-value"));
    return row;
  };
  function updateReadingRow(row, [name, value]) {
    setNodeText(row.querySelector(".reading-name"), lineText(name));
    setNodeText(row.querySelector(".reading-value"), lineText(value));
  }

  // temps and fans answer one [name, text] per sensor. A machine without
  // sensors answers an empty list: the section is hidden then.
  function renderReadings(sectionId, listId, items, keepShown = false) {
    const rows = Array.isArray(items) ? items.filter(Array.isArray) : [];
    $(sectionId).hidden = rows.length === 0 && !keepShown;
    renderRows($(listId), rows, ([name]) => name, makeReadingRow, updateReadingRow, false);
  }

  // ---- Battery -----------------------------------------------------------

  // isLaptop answers a truth value; battery answers six texts: time, charge
  // ("87%"), power source, state, cycles, health. Other machines hide it.
  function renderBattery([laptop, battery]) {
    const shown = laptop === true && Array.isArray(battery);
    $("battery").hidden = !shown;
    if (!shown) return;
    const [time, charge, source, state, cycles, health] = battery;
    setText("battery-charge", lineText(charge));
    $("battery-bar").querySelector(".fill").style.width = `${clampPercent(parseFloat(charge))}%`;
    setText("battery-time", lineText(time));
    setText("battery-source", lineText(source));
    setText("battery-state", lineText(state));
    setText("battery-cycles", lineText(cycles));
    setText("battery-health", lineText(health));
  }

  // ---- Processes -----------------------------------------------------------

  // topProcesses answers one [pid, CPU %, resident memory] per process,
  // busiest first. Walking every process is the dearest call of a refresh,
  // so the list is asked for every PROCESS_REFRESH_MS (less half a second
  // of timer slack) rather than every refresh; the rates it answers cover
  // the time since the last call anyway. Names and icons are asked with
  // getPsName and getAppPath in the next refresh's batch for pids the page
  // has not named yet, and kept while the pid stays in the list. The host's
  // own pid never changes, so it is asked until it is known.
  const PROCESS_COUNT = 5;
  const PROCESS_REFRESH_MS = 3000;
  const processNames = new Map();  // pid -> {name, icon}
  let shownPids = [];
  let lastTop = [];
  let lastProcessRefresh = -Infinity;
  let selfPid = null;

  function processCalls() {
    if (performance.now() - lastProcessRefresh < PROCESS_REFRESH_MS - 500) return [];
    return selfPid === null ? [["topProcesses", [PROCESS_COUNT]], ["getselfpid"]] : [["topProcesses", [PROCESS_COUNT]]];
  }

  let askedNames = [];
  function processNameCalls() {
    askedNames = shownPids.filter((pid) => !processNames.has(pid));
    return askedNames.flatMap((pid) => [["getPsName", [pid]], ["getAppPath", [pid, null]]]);
  }

  function makeProcessRow([pid]) {
    const row = element("div", "process");
    row.dataset.pid = String(pid);
    const picture = element("span", "process-icon stand-in");
    const name = element("span", "process-name", isNumber(pid) ? `pid ${pid}` : DASH);
    row.append(picture, name, element("span", "process-self"), element("span", "process-cpu"),
      element("span", "process-memory"));
    return row;
  }

  function updateProcessRow(row, [pid, cpu, memory]) {
    const known = processNames.get(pid);
    if (known) {
      setNodeText(row.querySelector(".process-name"), known.name);
      const picture = row.querySelector(".process-icon");
      if (known.icon && !picture.querySelector("img")) {
        const img = element("img");
        img.alt = "";
        img.width = 16;
        img.height = 16;
        img.addEventListener("load", () => picture.classList.remove("stand-in"));
        img.addEventListener("error", () => img.remove());
        img.src = known.icon;
        picture.append(img);
      }
    }
    const self = pid === selfPid;
    row.classList.toggle("self", self);
    setNodeText(row.querySelector(".process-self"), self ? "host" : "");
    setNodeText(row.querySelector(".process-cpu"), isNumber(cpu) ? `${cpu.toFixed(1)}%` : DASH);
    setNodeText(row.querySelector(".process-memory"), lineText(memory));
  }

  function showProcesses() {
    renderRows($("process-list"), lastTop, ([pid]) => pid, makeProcessRow, updateProcessRow, false);
  }

  function renderProcesses([top, ownPid]) {
    lastProcessRefresh = performance.now();
    if (isNumber(ownPid)) selfPid = ownPid;
    const rows = Array.isArray(top) ? top.filter((row) => Array.isArray(row) && isNumber(row[0])) : [];
    shownPids = rows.map(([pid]) => pid);
    for (const pid of processNames.keys()) if (!shownPids.includes(pid)) processNames.delete(pid);
    lastTop = Array.isArray(top) ? rows : top;
    showProcesses();
  }

  // The names answered here belong to the pids asked for in this batch.
  function renderProcessNames(names) {
    askedNames.forEach((pid, index) => {
      const [name, icon] = names.slice(index * 2, index * 2 + 2);
      if (typeof name === "string") processNames.set(pid, { name, icon: iconUrl(icon) });
    });
    showProcesses();
  }

  // isIntel and needsIntelBundle: on an Intel machine without the sensor
  // module the page says how to install it, until the user dismisses the
  // notice. The processor is asked once; whether the module is missing is
  // asked once a minute, since looking means opening the module's bundle.
  const NOTICE_KEY = "velquette.moduleNotice";
  const MODULE_REFRESH_MS = 60000;
  let intel = null;
  let lastModuleCheck = -Infinity;

  function noticeDismissed() {
    try {
      return localStorage.getItem(NOTICE_KEY) === "dismissed";
    } catch {
      return false;
    }
  }

  function moduleCalls() {
    if (intel === false || noticeDismissed() || performance.now() - lastModuleCheck < MODULE_REFRESH_MS) return [];
    return intel === null ? [["isIntel"], ["needsIntelBundle"]] : [["needsIntelBundle"]];
  }

  function renderModuleNotice(results) {
    lastModuleCheck = performance.now();
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

  // ---- Refresh -----------------------------------------------------------

  // Each section names the calls it needs and renders their results. A new
  // section is one more entry here with its own render function.
  // The change flags come before the calls whose answers they affect.
  const sections = [
    { id: "cpu", calls: [["cpuUsage"], ["load"], ["uptime"], ["processinfo"]], render: renderCPU },
    { id: "memory", calls: [["memoryUsage"]], render: renderMemory },
    { id: "volumes", calls: [["hasDiskSetupChanged"], ["diskUsage"]], render: renderVolumes },
    { id: "network", calls: [["hasNetworkSetupChanged"], ["network"]], render: renderNetwork },
    // The unit and the disk switch are read at each refresh, so a change
    // shows at the next one.
    { id: "temperatures", calls: temperatureCalls, render: renderTemperatures },
    { id: "fans", calls: [["fans"]], render: ([fans]) => renderReadings("fans", "fan-list", fans) },
    { id: "battery", calls: [["isLaptop"], ["battery"]], render: renderBattery },
    // Names first: they belong to the list the page shows before this batch.
    { id: "processes", calls: processNameCalls, render: renderProcessNames },
    { id: "processes", calls: processCalls, render: renderProcesses },
    { calls: moduleCalls, render: renderModuleNotice },
  ];
  // A section the user switched off costs the host nothing: its calls are left out.
  const isOff = (section) => settings.hidden.includes(section.id);
  const callsOf = (section) =>
    isOff(section) ? [] : typeof section.calls === "function" ? section.calls() : section.calls;

  function setConnection(state, detail) {
    const status = $("status");
    document.body.classList.toggle("disconnected", state !== "connected");
    status.hidden = state === "connected";
    status.textContent = state === "connected" ? "" : state === "error" ? "error" : "reconnecting…";
    status.title = detail || "";
  }

  // `counts` holds how many calls each section put into the batch, since a
  // section's calls may differ from one refresh to the next.
  function renderAll(results, counts) {
    let offset = 0;
    for (const [index, section] of sections.entries()) {
      const count = counts[index];
      const part = results.slice(offset, offset + count);
      offset += count;
      if (count === 0) continue;
      try {
        section.render(part);
      } catch (error) {
        // One section's bad data must not blank the others.
        console.error("render failed", error);
      }
    }
  }

  // Sampling pauses while the page is hidden: a widget nobody sees costs
  // nothing. It resumes at once when the page shows again.
  let timer = null;

  async function refresh() {
    timer = null;
    try {
      const calls = sections.map(callsOf);
      const results = await window.Velquette.batch(calls.flat());
      setConnection("connected");
      renderAll(results, calls.map((c) => c.length));
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

  // ---- Settings ----------------------------------------------------------

  // Shows the settings on the page: theme, layout, sections switched off,
  // the temperature switches, and the form's fields.
  function applySettings() {
    const root = document.documentElement;
    root.dataset.theme = settings.theme;
    root.dataset.layout = settings.layout;
    for (const id of Settings.SECTIONS) $(id).toggleAttribute("data-off", settings.hidden.includes(id));
    showUnit();
    showDrives();
    const form = $("settings");
    form.elements.refresh.value = String(settings.refresh);
    form.elements.unit.value = String(settings.unit);
    form.elements.disk.checked = settings.disk;
    form.elements.theme.value = settings.theme;
    form.elements.layout.value = settings.layout;
    for (const box of form.querySelectorAll("input[name=section]")) box.checked = !settings.hidden.includes(box.value);
  }

  function changeSettings(change) {
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
    if (open) showAutostart();
    $("settings").hidden = !open;
    $("settings-button").setAttribute("aria-expanded", String(open));
  });

  applySettings();
  refresh();
})();
