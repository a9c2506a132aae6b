// Which calls each refresh sends. A refresh is one /batch holding every
// section's calls in the order below, and each section renders the answers
// to its own calls. A section the user switched off costs the host nothing:
// its calls are left out. The change flags come before the calls whose
// answers they affect. The dearer calls are not asked every refresh but
// each on a clock of its own, so how often they are asked does not follow
// the refresh interval.
import { $ } from "./dom.js";
import { settings } from "./settings-panel.js";
import * as alerts from "./sections/alerts.js";
import * as battery from "./sections/battery.js";
import * as cpu from "./sections/cpu.js";
import * as fans from "./sections/fans.js";
import * as gpu from "./sections/gpu.js";
import * as limits from "./sections/limits.js";
import * as machines from "./sections/machines.js";
import * as memory from "./sections/memory.js";
import * as network from "./sections/network.js";
import * as notice from "./sections/module-notice.js";
import * as processes from "./sections/processes.js";
import * as temperatures from "./sections/temperatures.js";
import * as volumes from "./sections/volumes.js";

// Due once `intervalMs` has passed since it was last marked; due at once
// until it was first marked, or after a reset.
class Clock {
  constructor(intervalMs) {
    this.intervalMs = intervalMs;
    this.reset();
  }

  due(now = performance.now()) { return now - this.last >= this.intervalMs; }
  mark(now = performance.now()) { this.last = now; }
  reset() { this.last = -Infinity; }
}

// The start-up disk's temperature comes from the drive itself, so it is
// asked for afresh only every DRIVE_REFRESH_MS, and at once when the
// section's disk switch is pressed.
const DRIVE_REFRESH_MS = 60000;
const drives = new Clock(DRIVE_REFRESH_MS);
$("temp-drives").addEventListener("click", () => drives.reset());

function temperatureCalls() {
  const calls = [["setShouldMonitorSMARTTemps", [settings.disk ? 1 : 0]]];
  const now = performance.now();
  if (settings.disk && drives.due(now)) {
    drives.mark(now);
    calls.push(["setNeedsSMARTUpdate"]);
  }
  calls.push(["temps", [settings.unit]]);
  return calls;
}

// Walking every process is the dearest call of a refresh, so the list is
// asked for every PROCESS_REFRESH_MS (less half a second of timer slack)
// rather than every refresh: every third refresh at the default interval.
// The rates it answers cover the time since the last call anyway. The
// host's own pid is asked beside it until it is known.
const PROCESS_COUNT = 5;
const PROCESS_REFRESH_MS = 3000;
const processList = new Clock(PROCESS_REFRESH_MS - 500);

function processCalls() {
  if (!processList.due()) return [];
  return processes.selfPidKnown() ? [["topProcesses", [PROCESS_COUNT]]]
    : [["topProcesses", [PROCESS_COUNT]], ["getselfpid"]];
}

// Names and icons are asked in the next refresh's batch for the pids shown
// without a name; the answers belong to the pids asked for in that batch.
let namesAsked = [];
function processNameCalls() {
  namesAsked = processes.unnamedPids();
  return namesAsked.flatMap((pid) => [["getPsName", [pid]], ["getAppPath", [pid, null]], ["getPsUnit", [pid]]]);
}

// The processor and the SMC are asked once; whether the sensor module is
// missing, and the fans, once a minute, since looking means opening the
// module's bundle. None is asked on machines without both, or once the
// notice was dismissed.
const MODULE_REFRESH_MS = 60000;
const moduleCheck = new Clock(MODULE_REFRESH_MS);

function moduleCalls() {
  const fits = notice.machineMayNeedModule();
  if (fits === false || notice.dismissed() || !moduleCheck.due()) return [];
  const calls = [["needsIntelBundle"], ["fans"]];
  return fits === null ? [["isIntel"], ["hasSMC"], ...calls] : calls;
}

// A new section is one more entry here with its calls and its renderer.
const sections = [
  // The firing alerts, at the top of the card; the host keeps them, so
  // asking costs it no reading.
  { calls: [["alerts"]], render: alerts.render },
  { id: "cpu", calls: [["cpuUsage"], ["load"], ["uptime"], ["processinfo"]], render: cpu.render },
  { id: "memory", calls: [["memoryUsage"]], render: memory.render },
  // The limits of a container or a limited slice, shown in the processor
  // and memory sections; asked while either is on.
  { calls: () => (isOff({ id: "cpu" }) && isOff({ id: "memory" }) ? [] : [["limits"]]), render: limits.render },
  { id: "volumes", calls: [["hasDiskSetupChanged"], ["diskUsage"]], render: volumes.render },
  { id: "network", calls: [["hasNetworkSetupChanged"], ["network"]], render: network.render },
  { id: "gpu", calls: [["gpus"]], render: gpu.render },
  // The unit and the disk switch are read at each refresh, so a change
  // shows at the next one.
  { id: "temperatures", calls: temperatureCalls, render: temperatures.render },
  { id: "fans", calls: [["fans"]], render: fans.render },
  { id: "battery", calls: [["isLaptop"], ["battery"]], render: battery.render },
  // Names first: they belong to the list the page shows before this batch.
  { id: "processes", calls: processNameCalls, render: (names) => processes.renderNames(namesAsked, names) },
  {
    id: "processes",
    calls: processCalls,
    render: (answers) => {
      processList.mark();
      processes.render(answers);
    },
  },
  // The host answers from the last answer of its Prometheus, asked at most
  // once a second however many pages call.
  { id: "machines", calls: [["fleet"]], render: machines.render },
  {
    calls: moduleCalls,
    render: (answers) => {
      moduleCheck.mark();
      notice.render(answers);
    },
  },
];

const isOff = (section) => settings.hidden.includes(section.id);
const callsOf = (section) =>
  isOff(section) ? [] : typeof section.calls === "function" ? section.calls() : section.calls;

// The next refresh: its calls, in order, and what renders their results.
export function nextBatch() {
  const perSection = sections.map(callsOf);
  return {
    calls: perSection.flat(),
    // Each section gets the results of as many calls as it put into this
    // batch, since a section's calls may differ from one refresh to the next.
    render(results) {
      let offset = 0;
      for (const [index, section] of sections.entries()) {
        const count = perSection[index].length;
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
    },
  };
}
