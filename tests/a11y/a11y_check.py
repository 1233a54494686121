#!/usr/bin/python3
"""The real kelmora window read and driven through AT-SPI, as a screen reader or
GUI automation would: lamps, a list row, status panels and message boxes are
read; 打开 is clicked. Run under D-Bus and Xvfb (make test-a11y does that).

usage: a11y_check.py KELMORA KELMORA_BOARD
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
    return next((n for n in walk(root) if (role is None or n.getRole() == role) and (name is None or n.name == name)
                 and (description is None or n.description == description)), None)


def message_box(app):
    return find(app, name="提示", role=pyatspi.ROLE_DIALOG) or find(app, name="提示", role=pyatspi.ROLE_ALERT)


def lamps(app):
    out = {}
    for n in walk(app):
        if n.name.startswith("第") and n.name.endswith("路") and n.getRole() != pyatspi.ROLE_PAGE_TAB:
            out[n.name] = n.description
    return [f"{k} {out[k]}" for k in sorted(out, key=lambda s: int(s[1:-1]))]


def lamps_all(window, state):  # the sixteen lamps once each reads `state`, else None
    grid = lamps(window)
    return grid if len(grid) == 16 and all(x.endswith(" " + state) for x in grid) else None


def press(node):  # a Qt button's first action is its press
    return node.queryAction().doAction(0)


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
        wait_for("16 lamps reading 未知", lambda: lamps_all(window, "未知"))

        table = wait_for("the schedule list", lambda: find(window, name="定时列表"))
        cells = [n.name for n in walk(table)]
        assert ROW in cells, f"row not readable: {cells}"

        changes = []
        pyatspi.Registry.registerEventListener(
            lambda e: changes.append(e.source.name), "object:property-change:accessible-description")

        open_button = find(window, role=pyatspi.ROLE_PUSH_BUTTON, description="打开或关闭串口")
        assert open_button is not None and open_button.name == "打开", "打开 not found"
        press(open_button)
        box = wait_for("the message box", lambda: message_box(app))
        texts = [n.name for n in walk(box)]
        assert "串口打开错误" in texts, texts
        panel_text = wait_for("panel 1", lambda: find(window, description="状态栏 1")).name
        assert "unplugged" in panel_text, panel_text
        press(find(box, role=pyatspi.ROLE_PUSH_BUTTON))
        wait_for("the box to close", lambda: message_box(app) is None)

        os.remove(com1)
        os.symlink(pty, com1)
        press(open_button)
        wait_for("打开 to become 关闭", lambda: open_button.name == "关闭")
        wait_for("the board's relay states on the lamps", lambda: lamps_all(window, "断开"))
        wait_for("a description change event per lamp", lambda: len(set(changes)) == 16)
        press(find(window, role=pyatspi.ROLE_PUSH_BUTTON, name="吸合所有"))
        wait_for("every relay pulled in", lambda: lamps_all(window, "吸合"))
        wait_for("a second event per lamp", lambda: len(changes) >= 32)
        time.sleep(1)
        pump()
        assert len(changes) == 32 and all(changes.count(n) == 2 for n in set(changes)), changes
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
