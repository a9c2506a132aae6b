// Alerts: the rules the host finds firing, most severe first, at the top of
// the card. The host runs the rules on its own timer; the page only shows
// what it answers.
import { $ } from "../dom.js";

const minutes = (seconds) => (seconds < 60 ? "just now" : `for ${Math.floor(seconds / 60)} min`);

// alerts answers [{rule, severity, summary, body, seconds}].
export function render([alerts]) {
  const list = $("alerts");
  const firing = Array.isArray(alerts) ? alerts : [];
  list.hidden = firing.length === 0;
  list.replaceChildren(
    ...firing.map((alert) => {
      const item = document.createElement("li");
      item.className = `alert alert-${alert.severity === "critical" ? "critical" : "warning"}`;
      item.textContent = `${alert.summary}: ${alert.body} (${minutes(Number(alert.seconds) || 0)})`;
      return item;
    }),
  );
}
