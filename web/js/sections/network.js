// Network: one row per interface with its address, rates and totals, and a
// history line of the whole machine's download and upload rates.
import { $, DASH, element, lineText, renderRows, setNodeText } from "../dom.js";
import { Sparkline, rateBytes } from "../sparkline.js";

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
  const title = IPV4.test(shownAddress.textContent) ? "Click to copy" : "";
  if (shownAddress.title !== title) shownAddress.title = title;
  setNodeText(row.querySelector(".interface-in"), lineText(inRate));
  setNodeText(row.querySelector(".interface-out"), lineText(outRate));
  setNodeText(row.querySelector(".interface-total-in"), lineText(totalIn));
  setNodeText(row.querySelector(".interface-total-out"), lineText(totalOut));
}

const networkHistory = new Sparkline($("network-history"), ["down", "up"]);

// The answers of hasNetworkSetupChanged and network. The flag is asked first
// in the same batch: when the setup changed it makes the network call
// rebuild its interface list, so the page needs nothing of it.
export function render([, interfaces]) {
  renderRows($("interface-list"), interfaces, ([name]) => name, makeInterfaceRow, updateInterfaceRow, false);
  // The history adds up every interface's rates.
  const rows = Array.isArray(interfaces) ? interfaces.filter(Array.isArray) : [];
  const sum = (index) => rows.reduce((total, row) => total + (rateBytes(row[index]) || 0), 0);
  networkHistory.push(sum(3), sum(4));
}
