# SPDX-License-Identifier: MIT
# Stands in for a screen reader on the accessibility bus: registers for the events one takes, so
# that applications send them, and counts them. Prints "ready" once registered, and the count
# when told to stop.
import signal
import sys

import pyatspi

EVENTS = ["object:text-changed", "object:property-change", "object:state-changed",
          "object:children-changed", "object:text-caret-moved", "object:value-changed",
          "object:visible-data-changed", "object:selection-changed", "focus:", "window:"]
count = 0


def taken(_event):
    global count
    count += 1


def stop(*_):
    pyatspi.Registry.stop()


for name in EVENTS:
    pyatspi.Registry.registerEventListener(taken, name)
signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
print("ready", flush=True)
pyatspi.Registry.start()
print(count, flush=True)
sys.exit(0)
