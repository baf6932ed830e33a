#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# lumbra.exe under wine as a user meets it: started from a folder, found by
# its title, clicked with xdotool at the layout's places and answered with
# Return. Every file of the basic volume (the drive list's first entry, D:)
# must land in the start folder byte for byte. Environment: WORK, APP_EXE and
# DISPLAY. Run from the checkout's root. Writes "passed failed" to
# $WORK/click-counts.

import hashlib, json, os, re, signal, subprocess, time

work, app = os.environ["WORK"], os.environ["APP_EXE"]
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
        # Only a window on the screen: wine names its X windows before it
        # maps them.
        ids = xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$").split()
        if ids:
            time.sleep(1)
            return ids[0]
        time.sleep(0.5)
    return None

start = os.path.join(work, "click-out")
os.makedirs(start)
program = subprocess.Popen(["timeout", "600", "wine", app], cwd=start, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, start_new_session=True)
try:
    window = find("Osmik Data Lumbra V1.0", 60)
    check(window is not None, "a window titled \"Osmik Data Lumbra V1.0\" within 60 s")
    if window is not None:
        geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
        # The client area is 983 x 596; whatever frame there is lies around it.
        border = (int(geometry["WIDTH"]) - 983) // 2
        left = int(geometry["X"]) + border
        top = int(geometry["Y"]) + int(geometry["HEIGHT"]) - 596 - border

        def click(x, y):
            xdotool("mousemove", "--sync", str(left + x), str(top + y), "click", "1")
            time.sleep(0.5)

        def answer(what, limit):
            box = find("Lumbra", limit)
            check(box is not None, f"{what}'s closing message")
            if box is not None:
                time.sleep(0.5)
                xdotool("key", "Return")
                end = time.monotonic() + 10
                while time.monotonic() < end and box in xdotool("search", "--onlyvisible", "--name", "^Lumbra$").split():
                    time.sleep(0.2)

        click(98, 45)    # the drive list's first entry
        click(98, 17)    # "Disk Scan"
        answer("the scan", 120)
        click(300, 17)   # "Select All"
        click(244, 17)   # "Lumbra File"
        answer("the recovery", 300)
    rows = json.load(open("tests/fixtures/basic.json"))["deleted"]
    made = {f: hashlib.sha256(open(os.path.join(start, f), "rb").read()).hexdigest() for f in os.listdir(start)}
    bad = [(r["name"], made.get(r["name"], "missing")) for r in rows if made.get(r["name"]) != r["sha256"]]
    check(not bad and len(made) == len(rows), "every file of the volume in the start folder, byte for byte",
          f"{len(made)} files for {len(rows)} rows; {bad[:5]}")
finally:
    os.killpg(program.pid, signal.SIGTERM)
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        os.killpg(program.pid, signal.SIGKILL)

print(f"click: {passed} passed, {failed} failed")
with open(os.path.join(work, "click-counts"), "w") as f:
    f.write(f"{passed} {failed}\n")
