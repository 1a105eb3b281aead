# SPDX-License-Identifier: MIT
"""Presses the running terminal's controls as a screen reader does, over the accessibility bus.

Every press that opens a modal dialog must be answered within 0.5 s, and the dialog must then
answer presses of its own. Usage: accessible_presses.py PID FOLDER, FOLDER holding monitor.txt,
the file that Save As replaces (the terminal runs in FOLDER, where its file dialog opens).
"""
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

ANSWER_WITHIN = 0.5  # seconds, for every press
WAIT = 20.0  # seconds, for a window or a state to come

# What a search never looks into: the rows of the file dialog's views.
VIEWS = {pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_LIST}


def fail(text):
    print("accessible presses: " + text, file=sys.stderr)
    sys.exit(1)


def eventually(what, probe):
    until = time.monotonic() + WAIT
    while time.monotonic() < until:
        try:
            found = probe()
        except GLib.Error:
            found = None  # an object that went away while we looked
        if found:
            return found
        time.sleep(0.1)
    fail(what)


def children(acc):
    try:
        return [acc.getChildAtIndex(i) for i in range(acc.childCount)]
    except GLib.Error:
        return []


def find(root, matches):
    stack = [root]
    while stack:
        acc = stack.pop()
        if acc is None:
            continue
        if matches(acc):
            return acc
        if acc.getRole() not in VIEWS:
            stack.extend(reversed(children(acc)))
    return None


def named(name, role=None):
    return lambda acc: acc.name == name and (role is None or acc.getRole() == role)


def press(acc, action, what):
    actions = acc.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    lowered = [n.lower() for n in names]
    if action.lower() not in lowered:
        fail(f"{what} offers {names}, not {action}")
    start = time.monotonic()
    try:
        answered = actions.doAction(lowered.index(action.lower()))
    except GLib.Error as e:
        fail(f"{what}: {action} got no answer within {time.monotonic() - start:.1f} s ({e.message})")
    took = time.monotonic() - start
    print(f"{what}: {action} answered in {took * 1000:.0f} ms")
    if not answered or took > ANSWER_WITHIN:
        fail(f"{what}: {action} took {took:.2f} s (at most {ANSWER_WITHIN} s)")


def main():
    pid = int(sys.argv[1])
    folder = sys.argv[2]
    target = os.path.join(folder, "monitor.txt")
    desktop = pyatspi.Registry.getDesktop(0)

    def the_app():
        for app in children(desktop):
            if app is not None and app.get_process_id() == pid:
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        return None

    app = eventually("the terminal never came on the accessibility bus", the_app)

    def windows():
        return [w for w in children(app) if w is not None]

    main_window = eventually(
        "no main window", lambda: next((w for w in windows() if w.name.startswith("Norvale")), None)
    )

    def a_dialog(holding):
        return lambda: next(
            (w for w in windows() if w != main_window and find(w, holding) is not None), None
        )

    # The port panel's double-click opens the port settings; its Cancel closes them.
    port = eventually("no port panel", lambda: find(main_window, named("Port", pyatspi.ROLE_LABEL)))
    press(port, "Double-click", "port panel")
    settings = eventually("the port settings never opened", a_dialog(named("ｷｬﾝｾﾙ")))
    press(find(settings, named("ｷｬﾝｾﾙ")), "Press", "port settings' Cancel")
    eventually("the port settings stayed open", lambda: settings not in windows() or None)

    # Save As over an existing file: the dialog's Save asks whether to replace it, and Yes does.
    save_as = eventually(
        "no Save As in the File menu",
        lambda: find(
            main_window,
            lambda a: a.getRole() == pyatspi.ROLE_MENU_ITEM and "(Save As)" in a.name,
        ),
    )
    press(save_as, "Press", "File > Save As")
    dialog = eventually("the file dialog never opened", a_dialog(named("Save", pyatspi.ROLE_PUSH_BUTTON)))
    file_name = eventually(
        "the file dialog has no file name field",
        lambda: find(
            dialog,
            lambda a: a.getRole() == pyatspi.ROLE_TEXT
            and a.getState().contains(pyatspi.STATE_EDITABLE)
            and a.name.startswith("File name"),
        ),
    )
    file_name.queryEditableText().setTextContents(target)
    press(find(dialog, named("Save", pyatspi.ROLE_PUSH_BUTTON)), "Press", "file dialog's Save")
    question = eventually(
        "no question whether to replace the file", a_dialog(named("Yes", pyatspi.ROLE_PUSH_BUTTON))
    )
    press(find(question, named("Yes", pyatspi.ROLE_PUSH_BUTTON)), "Press", "replace question's Yes")
    eventually("the file dialog stayed open", lambda: dialog not in windows() or None)
    eventually(
        "the status bar never showed the file saved",
        lambda: find(main_window, named(target, pyatspi.ROLE_LABEL)),
    )
    with open(target, "rb") as saved:
        if saved.read() == b"a line the terminal replaces\n":
            fail("the file was not replaced")
    print("accessible presses: all answered at once")


if __name__ == "__main__":
    main()
