// The sensor sections' lists: one row of a name and a reading per sensor.
import { $, element, lineText, renderRows, setNodeText } from "../dom.js";

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
export function renderReadings(sectionId, listId, items, keepShown = false) {
  const rows = Array.isArray(items) ? items.filter(Array.isArray) : [];
  $(sectionId).hidden = rows.length === 0 && !keepShown;
  renderRows($(listId), rows, ([name]) => name, makeReadingRow, updateReadingRow, false);
}
