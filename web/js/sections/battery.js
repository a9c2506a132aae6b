// Battery: its charge, bar and state on a laptop; other machines hide it.
import { $, clampPercent, lineText, setText, setWidth } from "../dom.js";

// isLaptop answers a truth value; battery answers six texts: time, charge
// ("87%"), power source, state, cycles, health.
export function render([laptop, battery]) {
  const shown = laptop === true && Array.isArray(battery);
  $("battery").hidden = !shown;
  if (!shown) return;
  const [time, charge, source, state, cycles, health] = battery;
  setText("battery-charge", lineText(charge));
  setWidth($("battery-bar").querySelector(".fill"), clampPercent(parseFloat(charge)));
  setText("battery-time", lineText(time));
  setText("battery-source", lineText(source));
  setText("battery-state", lineText(state));
  setText("battery-cycles", lineText(cycles));
  setText("battery-health", lineText(health));
}
