#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The Qt window on an X display as a user meets it: started from a folder,
# found by its title, clicked with xdotool at the layout's places (client
# coordinates at 96 dpi, the same as the Win32 window's) and answered with
# Return. The quick-formatted volume (E:, the drive list's second entry) is
# right-clicked, "Deep Scan" picked from the menu, every row ticked and
# recovered: each old file of the volume must land in the start folder
# byte for byte. Arguments: LUMBRA_EXE FIXTURE_IMAGES FIXTURE_MANIFESTS;
# environment: DISPLAY. Exit 0 when every check passed.

import hashlib, json, os, re, signal, subprocess, sys, tempfile, time

app, images, manifests = (os.path.abspath(a) for a in sys.argv[1:4])
passed = failed = 0


def check(ok, what, detail=""):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print(f"FAIL click: {what}" + (f": {detail}" if detail else ""))


def xdotool(*args, timeout=10):
    try:
        r = subprocess.run(["timeout", str(timeout), "xdotool", *args], capture_output=True, timeout=timeout + 5)
        return r.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return ""


def find(title, limit):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        ids = xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$").split()
        if ids:
            time.sleep(1)
            return ids[0]
        time.sleep(0.3)
    return None


with tempfile.TemporaryDirectory() as start:
    # The window on the virtual display, whatever platform the other window
    # tests run on (scripts/test sets offscreen for them).
    env = dict(os.environ, LUMBRA_DRIVES=f"D={images}/basic.img;E={images}/qformat.img", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen(["timeout", "300", app], cwd=start, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        window = find("Osmik Data Lumbra V1.0", 60)
        check(window is not None, "a window titled \"Osmik Data Lumbra V1.0\" within 60 s")
        if window is not None:
            geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
            # The client area is 983 x 596; a frame, when there is a window
            # manager, lies around it.
            border = (int(geometry["WIDTH"]) - 983) // 2
            left = int(geometry["X"]) + border
            top = int(geometry["Y"]) + int(geometry["HEIGHT"]) - 596 - border

            def click(x, y, button="1"):
                xdotool("mousemove", "--sync", str(left + x), str(top + y), "click", button)
                time.sleep(0.5)

            def answer(what, limit):
                box = find("Lumbra", limit)
                check(box is not None, f"{what}'s closing message")
                if box is not None:
                    time.sleep(0.5)
                    xdotool("key", "Return")
                    end = time.monotonic() + 10
                    while time.monotonic() < end and box in xdotool("search", "--onlyvisible", "--name",
                                                                    "^Lumbra$").split():
                        time.sleep(0.2)

            # The drive list's rows are 19 px from y 36: E: is the second.
            click(98, 64, "3")          # a right-click on E:: the drive list's menu
            click(98 + 30, 64 + 10)     # "Deep Scan", the menu's one item
            answer("the deep scan", 120)
            click(300, 17)              # "Select All"
            click(244, 17)              # "Lumbra File"
            answer("the recovery", 120)
        # qformat is basic formatted again in place: its old deleted files are basic's rows
        rows = json.load(open(os.path.join(manifests, "basic.json")))["deleted"]
        made = {f: hashlib.sha256(open(os.path.join(start, f), "rb").read()).hexdigest() for f in os.listdir(start)}
        bad = [(r["name"], made.get(r["name"], "missing")) for r in rows if made.get(r["name"]) != r["sha256"]]
        check(not bad and len(made) >= len(rows), "every old file of the quick-formatted volume, byte for byte",
              f"{len(made)} files for {len(rows)} old files; {bad[:5]}")
    finally:
        try:
            os.killpg(program.pid, signal.SIGTERM)
            program.wait(timeout=20)
        except ProcessLookupError:
            pass
        except subprocess.TimeoutExpired:
            os.killpg(program.pid, signal.SIGKILL)

print(f"click: {passed} passed, {failed} failed")
sys.exit(0 if failed == 0 else 1)
