#pragma once
// Panels that show a value (the port, the speed, the clock, a survey counter) carry a fixed
// accessible name so that tools can find them. Qt would then read out only that name; this
// hands assistive tools the value too, as description and value, whenever a label has both a
// name of its own and a text.

// Once per process, before the windows are shown.
void installLabelAccessibility();
