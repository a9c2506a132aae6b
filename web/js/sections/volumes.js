// Volumes: one row per mounted volume, with its icon, how full it is, and
// its used and free space.
import { $, DASH, clampPercent, element, iconUrl, isNumber, lineText, renderRows, setData, setNodeText,
  setWidth } from "../dom.js";

// diskUsage answers one [name, used %, used, free, mount path, icon URL]
// per volume.
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
  setData(bar, "used", isNumber(percent) ? String(Math.trunc(percent)) : "");
  bar.classList.toggle("full", share >= 90);
  setWidth(bar.querySelector(".fill"), share);
  setNodeText(row.querySelector(".volume-used"), lineText(used));
  setNodeText(row.querySelector(".volume-free"), lineText(free));
}

// The answers of hasDiskSetupChanged and diskUsage.
export function render([changed, volumes]) {
  // A mount or unmount since the last refresh: draw every row afresh,
  // icons included.
  renderRows($("volume-list"), volumes, ([name, , , , path, icon]) => [name, path, icon],
    makeVolumeRow, updateVolumeRow, changed === true);
}
