#!/usr/bin/python3
"""Prints the accessibility tree of every application on DISPLAY's session bus as JSON.

Run in a process of its own (the harness does): pyatspi keeps caches and a connection per process.
"""

import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

MAX_DEPTH = 40


def text_of(node):
    try:
        text = node.get_text_iface()
        if text:
            return text.get_text(0, text.get_character_count())
    except Exception:
        pass
    return None


def states_of(node):
    try:
        states = node.get_state_set().get_states()
        return sorted(Atspi.StateType(s).value_nick for s in states)
    except Exception:
        return []


def extents_of(node):
    try:
        component = node.get_component_iface()
        if component:
            e = component.get_extents(Atspi.CoordType.SCREEN)
            return [e.x, e.y, e.width, e.height]
    except Exception:
        pass
    return None


def dump(node, depth=0):
    try:
        entry = {
            "role": node.get_role_name(),
            "name": node.get_name(),
            "description": node.get_description(),
            "text": text_of(node),
            "states": states_of(node),
            "extents": extents_of(node),
            "children": [],
        }
        if depth < MAX_DEPTH:
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    entry["children"].append(dump(child, depth + 1))
        return entry
    except Exception as e:
        return {"role": "error", "name": str(e), "children": []}


def main():
    desktop = Atspi.get_desktop(0)
    apps = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None:
            apps.append(dump(app))
    json.dump(apps, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
