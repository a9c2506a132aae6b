// Fans: one reading per fan; a machine without fans hides the section.
import { renderReadings } from "./readings.js";

// The answer of fans.
export function render([fans]) {
  renderReadings("fans", "fan-list", fans);
}
