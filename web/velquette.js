// window.Velquette: the plug-in object as the page's script sees it. Every
// reachable name is a method that sends the call to the host and answers a
// Promise of the result; Velquette.batch sends several calls in one round
// trip and answers their results in order.
"use strict";

(() => {
  const NAMES = [
    // The script-visible table.
    "cpuUsage", "memoryUsage", "diskUsage", "network",
    "getAppPath", "getselfpid", "getPsName",
    "temps", "fans", "uptime", "load", "processinfo",
    "battery", "isLaptop", "isIntel", "needsIntelBundle",
    "copyTextToClipboard", "setNeedsSMARTUpdate", "setShouldMonitorSMARTTemps",
    // Reachable under their default names.
    "hasDiskSetupChanged", "hasNetworkSetupChanged",
    "installIntelModule", "wasIntelModuleInstalled",
    // Our own addition: the busiest processes and their services.
    "topProcesses", "getPsUnit",
    // The limits of a container or a limited slice.
    "limits",
    // The GPUs.
    "gpus",
    // And for the page's settings.
    "isAutostartEnabled", "setAutostart",
    // And for the module notice.
    "hasSMC",
    // And for the Machines section and its setting.
    "fleet", "prometheusUrl", "setPrometheusUrl",
    // And for the alerts.
    "alerts", "alertRule", "setAlertRule",
  ];

  // A call that has not been answered by then is given up, so a host that
  // hangs does not stall the page's refresh.
  const TIMEOUT_MS = 5000;

  class VelquetteError extends Error {
    constructor(message, status) {
      super(message);
      this.name = "VelquetteError";
      // The HTTP status, or 0 when the host could not be reached.
      this.status = status;
    }
  }

  async function post(path, body) {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
    let response;
    try {
      response = await fetch(path, {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify(body),
        cache: "no-store",
        signal: controller.signal,
      });
    } catch (error) {
      throw new VelquetteError(`host unreachable: ${error.message}`, 0);
    } finally {
      clearTimeout(timer);
    }
    const answer = await response.json().catch(() => null);
    if (!response.ok) {
      const reason = answer && typeof answer.error === "string" ? answer.error : `HTTP ${response.status}`;
      throw new VelquetteError(reason, response.status);
    }
    return answer;
  }

  // In the desktop window the page hands its batches to the window (a WebKit
  // message handler that replies), which answers them in process: a refresh
  // then makes no request through WebKit's network process. The reply is
  // the text /batch would answer; a refused batch answers {"error": ...}.
  const windowBatch = window.webkit?.messageHandlers?.velquetteBatch;
  async function postToWindow(body) {
    let answer;
    try {
      answer = JSON.parse(await windowBatch.postMessage(JSON.stringify(body)));
    } catch (error) {
      throw new VelquetteError(`host unreachable: ${error.message}`, 0);
    }
    if (!Array.isArray(answer)) throw new VelquetteError(answer?.error ?? "refused", 400);
    return answer;
  }

  const api = {
    // calls: [[name, [args...]], ...]; args may be left out.
    async batch(calls) {
      const body = calls.map(([method, args = []]) => ({ method, args }));
      const answers = windowBatch ? await postToWindow(body) : await post("/batch", body);
      return answers.map((answer) => answer.result);
    },
  };
  for (const name of NAMES) {
    api[name] = async (...args) => (await post("/call", { method: name, args })).result;
  }

  window.Velquette = Object.freeze(api);
  window.VelquetteError = VelquetteError;
})();
