// Small history graphs drawn from the samples the page already takes: one
// SVG polyline per series over the last `capacity` samples.

export class Sparkline {
  // `svg` is an <svg> with a viewBox of capacity × 24; `series` names the
  // CSS classes of its lines; `fixedMax` (such as 100 for percentages) or
  // else the largest sample shown sets the scale.
  constructor(svg, series, { capacity = 120, fixedMax = null } = {}) {
    this.svg = svg;
    this.capacity = capacity;
    this.fixedMax = fixedMax;
    this.samples = series.map(() => []);
    this.lines = series.map((name) => {
      const line = document.createElementNS("http://www.w3.org/2000/svg", "polyline");
      line.setAttribute("class", `spark ${name}`);
      svg.append(line);
      return line;
    });
    svg.setAttribute("viewBox", `0 0 ${capacity - 1} 24`);
    svg.setAttribute("preserveAspectRatio", "none");
  }

  // One value per series; a value that is not a finite number is drawn as 0.
  push(...values) {
    this.samples.forEach((list, index) => {
      const value = values[index];
      list.push(Number.isFinite(value) && value > 0 ? value : 0);
      if (list.length > this.capacity) list.shift();
    });
    this.draw();
  }

  draw() {
    const max = this.fixedMax ?? Math.max(1, ...this.samples.flat());
    this.samples.forEach((list, index) => {
      const offset = this.capacity - list.length;
      const points = list.map((value, i) => `${offset + i},${(24 - (Math.min(value, max) / max) * 23).toFixed(1)}`);
      this.lines[index].setAttribute("points", points.join(" "));
    });
  }
}

// "12kb/s", "1.5mb/s" → bytes per second; NaN for anything else.
export function rateBytes(text) {
  const match = typeof text === "string" ? /^([\d.]+)\s*(b|kb|mb|gb)\/s$/i.exec(text.trim()) : null;
  if (!match) return NaN;
  return Number(match[1]) * { b: 1, kb: 1024, mb: 1024 ** 2, gb: 1024 ** 3 }[match[2].toLowerCase()];
}
