// What every section of the page uses to show its figures: finding an
// element, turning an answer into text, and lists of rows that are kept in
// place between refreshes. Until the first answer every figure shows a dash.

export const DASH = "–";

export const $ = (id) => document.getElementById(id);
export const isNumber = (value) => typeof value === "number" && Number.isFinite(value);
export const percentText = (value) => (isNumber(value) ? String(Math.trunc(value)) : DASH);
export const lineText = (value) => (typeof value === "string" && value !== "" ? value : DASH);
export const clampPercent = (value) => (isNumber(value) ? Math.min(100, Math.max(0, value)) : 0);

// The host hands icons out as URLs under /icons/; anything else (no icon
// cache) gets the drawn stand-in.
export const iconUrl = (value) => (typeof value === "string" && value.startsWith("/icons/") ? value : "");

export function setText(id, text) {
  const element = $(id);
  if (element.textContent !== text) element.textContent = text;
}

export function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

export function setNodeText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

// A bar's width and a data attribute are written only when they change, so
// an unchanged figure costs no style or layout work.
export function setWidth(node, percent) {
  const width = `${percent}%`;
  if (node.style.width !== width) node.style.width = width;
}

export function setData(node, key, value) {
  if (node.dataset[key] !== value) node.dataset[key] = value;
}

// Renders one row per item into a list, rebuilding the rows only when the
// items' keys changed (or `force` is set) and updating them in place
// otherwise, so pictures are not reloaded every second. An answer that is
// not a list shows the placeholder; an empty list says "none".
export function renderRows(list, items, keyOf, makeRow, updateRow, force) {
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
