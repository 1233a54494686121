#!/usr/bin/python3
"""The real kelmora window read and driven through AT-SPI, as a screen reader or
GUI automation would: lamps, a list row, status panels and message boxes are
read; 打开 is clicked. Run under D-Bus and Xvfb (make test-a11y does that).

usage: a11y_check.py KELMORA KELMORA_BOARD   (A11Y_DUMP=1 prints the window's tree)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

WAIT_S = 60  # generous: the machine is small and shared
ROW = "第1路, 每天, 08:30:00 ,吸合 "


def pump():
    ctx = GLib.MainContext.default()
    while ctx.iteration(False):
        pass


def wait_for(what, find, seconds=WAIT_S):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        pump()
        try:
            found = find()
        except Exception:  # the tree changes under us while the window builds
            found = None
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"FAIL: {what} not seen within {seconds} s")


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def find(root, role=None, name=None, description=None):
    for n in walk(root):
        if role is not None and n.getRole() != role:
            continue
        if name is not None and n.name != name:
            continue
        if description is not None and n.description != description:
            continue
        return n
    return None


def lamps(app):
    out = {}
    for n in walk(app):
        if n.name.startswith("第") and n.name.endswith("路") and n.getRole() != pyatspi.ROLE_PAGE_TAB:
            out[n.name] = n.description
    return [f"{k} {out[k]}" for k in sorted(out, key=lambda s: int(s[1:-1]))]


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            return action.doAction(i)
    return action.doAction(0)


def main():
    kelmora, board_exe = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp(prefix="kelmora-a11y-")
    board = app_proc = None
    try:
        # A portable copy keeps its files beside itself: a schedule to read, and Com1
        # first a link to nothing (a box to read), later to the board.
        program = os.path.join(folder, "kelmora")
        shutil.copy(kelmora, program)
        with open(os.path.join(folder, "Note.ini"), "w") as f:
            f.write("[Note]\n01001=11000000000100000000083000\n")
        com1 = os.path.join(folder, "Com1")
        os.symlink(os.path.join(folder, "unplugged"), com1)
        board = subprocess.Popen([board_exe], stdout=subprocess.PIPE, text=True)
        pty = board.stdout.readline().strip()

        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        app_proc = subprocess.Popen([program], env=env)
        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("the kelmora application on the bus",
                       lambda: next((a for a in desktop if a is not None and a.name == "kelmora"), None))
        window = wait_for("the main window", lambda: find(app, role=pyatspi.ROLE_FRAME, name="KelmoraV2.4"))

        if os.environ.get("A11Y_DUMP"):
            time.sleep(3)
            for n in walk(window):
                print(repr(n.getRoleName()), repr(n.name), repr(n.description))
        before = wait_for("16 lamps", lambda: (lambda l: l if len(l) == 16 else None)(lamps(window)))
        assert all(l.endswith(" 未知") for l in before), before

        table = wait_for("the schedule list", lambda: find(window, name="定时列表"))
        cells = [n.name for n in walk(table)]
        assert ROW in cells, f"row not readable: {cells}"

        changes = []
        pyatspi.Registry.registerEventListener(
            lambda e: changes.append(e.source.name), "object:property-change:accessible-description")

        open_button = find(window, role=pyatspi.ROLE_PUSH_BUTTON, description="打开或关闭串口")
        assert open_button is not None and open_button.name == "打开", "打开 not found"
        press(open_button)
        box = wait_for("the message box", lambda: find(app, name="提示", role=pyatspi.ROLE_DIALOG)
                       or find(app, name="提示", role=pyatspi.ROLE_ALERT))
        texts = [n.name for n in walk(box)]
        assert "串口打开错误" in texts, texts
        panel = wait_for("panel 1 naming the missing device",
                         lambda: find(window, description="状态栏 1"))
        panel_text = panel.name
        assert "unplugged" in panel_text, panel_text
        press(find(box, role=pyatspi.ROLE_PUSH_BUTTON))
        wait_for("the box to close", lambda: find(app, name="提示", role=pyatspi.ROLE_DIALOG) is None
                 and find(app, name="提示", role=pyatspi.ROLE_ALERT) is None)

        os.remove(com1)
        os.symlink(pty, com1)
        press(open_button)
        wait_for("打开 to become 关闭", lambda: open_button.name == "关闭")
        after = wait_for("the board's relay states on the lamps",
                         lambda: (lambda l: l if all(x.endswith(" 断开") for x in l) else None)(lamps(window)))
        wait_for("a description change event per lamp", lambda: len(set(changes)) == 16)
        press(find(window, role=pyatspi.ROLE_PUSH_BUTTON, name="吸合所有"))
        on = wait_for("every relay pulled in",
                      lambda: (lambda l: l if all(x.endswith(" 吸合") for x in l) else None)(lamps(window)))
        wait_for("a second event per lamp", lambda: len(changes) >= 32)
        time.sleep(1)
        pump()
        assert len(changes) == 32 and all(changes.count(n) == 2 for n in set(changes)), changes
        clock = find(window, description="状态栏 3：电脑时间")
        print("lamp grid as read before the link:", "; ".join(before))
        print("lamp grid as read after opening:", "; ".join(after))
        print("lamp grid as read after 吸合所有:", "; ".join(on))
        print("description events:", len(changes), "for", len(set(changes)), "lamps")
        print("panel 1 after the failed open:", panel_text)
        print("panel 3:", clock.name if clock else "(not found)")
        print("list row:", ROW)
        print("PASS")
    finally:
        for p in (app_proc, board):
            if p is not None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
