// The widget: asks the host for every section's figures in one batch each
// second and renders them. Until the first answer every figure shows a dash;
// while the host cannot be reached the last figures stay, dimmed, under a
// "disconnected" mark, and polling goes on so the widget recovers by itself
// when the host comes back.
"use strict";

(() => {
  const REFRESH_MS = 1000;
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
  function renderCPU([usage, load, uptime, processinfo]) {
    const summary = Array.isArray(usage) && Array.isArray(usage[0]) ? usage[0] : [];
    const cores = Array.isArray(usage) && Array.isArray(usage[1]) ? usage[1] : [];
    const [system, user, nice, idle, busy] = summary;

    setText("cpu-system", percentText(system));
    setText("cpu-user", percentText(user));
    setText("cpu-nice", percentText(nice));
    setText("cpu-idle", percentText(idle));
    setText("cpu-busy", percentText(busy));
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

  // ---- Refresh -----------------------------------------------------------

  // Each section names the calls it needs and renders their results. A new
  // section (memory, volumes, network, temperatures, fans, battery) is one
  // more entry here with its own render function.
  const sections = [
    { calls: [["cpuUsage"], ["load"], ["uptime"], ["processinfo"]], render: renderCPU },
  ];
  const allCalls = sections.flatMap((section) => section.calls);

  function setConnection(state, detail) {
    const status = $("status");
    document.body.classList.toggle("disconnected", state !== "connected");
    status.hidden = state === "connected";
    status.textContent = state === "connected" ? "" : state;
    status.title = detail || "";
  }

  function renderAll(results) {
    let offset = 0;
    for (const section of sections) {
      const part = results.slice(offset, offset + section.calls.length);
      offset += section.calls.length;
      try {
        section.render(part);
      } catch (error) {
        // One section's bad data must not blank the others.
        console.error("render failed", error);
      }
    }
  }

  async function refresh() {
    try {
      const results = await window.Velquette.batch(allCalls);
      setConnection("connected");
      renderAll(results);
    } catch (error) {
      setConnection(error.status ? "error" : "disconnected", error.message);
    } finally {
      setTimeout(refresh, REFRESH_MS);
    }
  }

  refresh();
})();
