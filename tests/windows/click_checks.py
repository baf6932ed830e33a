#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# lumbra.exe under wine as a user meets it: started from a folder, found by
# its title, clicked with xdotool at the layout's places and answered with
# Return. Every file of the basic volume (the drive list's first entry, D:)
# must land in the start folder byte for byte; and, deep-scanned from the
# drive list's right-click menu, every old file of the quick-formatted
# volume in a second start folder. Arguments: LETTER:FIXTURE pairs;
# environment: WORK, APP_EXE and DISPLAY. Run from the checkout's root. Writes "passed failed" to
# $WORK/click-counts.

import hashlib, json, os, re, signal, subprocess, sys, time

work, app = os.environ["WORK"], os.environ["APP_EXE"]
drives = sys.argv[1:]  # LETTER:FIXTURE pairs
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

def run_program(folder, steps):
    """Starts lumbra.exe in folder, finds its window and runs steps(click,
    right_click, key, answer) on it; ends the program afterwards."""
    os.makedirs(folder)
    program = subprocess.Popen(["timeout", "600", "wine", app], cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        window = find("Osmik Data Lumbra V1.0", 60)
        check(window is not None, "a window titled \"Osmik Data Lumbra V1.0\" within 60 s")
        if window is None:
            return
        geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
        # The client area is 983 x 596; whatever frame there is lies around it.
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
                while time.monotonic() < end and box in xdotool("search", "--onlyvisible", "--name", "^Lumbra$").split():
                    time.sleep(0.2)

        steps(click, lambda key: (xdotool("key", key), time.sleep(0.5)), answer)
    finally:
        os.killpg(program.pid, signal.SIGTERM)
        try:
            program.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(program.pid, signal.SIGKILL)

def recovered(folder):
    return {f: hashlib.sha256(open(os.path.join(folder, f), "rb").read()).hexdigest() for f in os.listdir(folder)}

def scan_and_recover(click, key, answer):
    click(98, 45)    # the drive list's first entry
    click(98, 17)    # "Disk Scan"
    answer("the scan", 120)
    click(300, 17)   # "Select All"
    click(244, 17)   # "Lumbra File"
    answer("the recovery", 300)

start = os.path.join(work, "click-out")
run_program(start, scan_and_recover)
rows = json.load(open("tests/fixtures/basic.json"))["deleted"]
made = recovered(start)
bad = [(r["name"], made.get(r["name"], "missing")) for r in rows if made.get(r["name"]) != r["sha256"]]
check(not bad and len(made) == len(rows), "every file of the volume in the start folder, byte for byte",
      f"{len(made)} files for {len(rows)} rows; {bad[:5]}")

# The deep scan from the drive list's menu, on the quick-formatted volume.
# Its entry's place in the list: D: first, then the fixture letters below
# its own that list an NTFS volume (a disk's further partitions take letters
# above them all). The first entry clicked, its letter typed, the list shows
# it in its last whole row once it lies past the rows the list shows.
qformat = next((a.split(":", 1)[0] for a in drives if a.endswith(":qformat")), None)
check(qformat is not None, "the quick-formatted volume has a drive letter")
if qformat is not None:
    def lists_ntfs(name):
        m = json.load(open(f"tests/fixtures/{name}.json"))
        return m.get("ntfs", True) or any(p.get("volume", {}).get("ntfs", p.get("ntfs", False))
                                          for p in m.get("partitions", []))
    index = 1 + sum(1 for a in drives if a.split(":", 1)[0] < qformat and lists_ntfs(a.split(":", 1)[1]))
    # The drive list's client area: from 36 (the left pane's bevel, the
    # 33 px of the scan button's panel, the list's edge) over the rows that
    # fit above the drive information, 19 px each.
    shown_rows = (596 - 1 - 33 - 24 - 200 - 25 - 126 - 1 - 4) // 19
    row_y = 36 + 19 * min(index, shown_rows - 1) + 9

    def deep_scan_and_recover(click, key, answer):
        click(98, 45)            # the drive list's first entry
        key(qformat)             # its letter: the entry of the quick-formatted volume
        click(98, row_y, "3")    # a right-click on it: the drive list's menu
        click(98 + 30, row_y + 10)  # "Deep Scan", the menu's one item
        answer("the deep scan", 180)
        click(300, 17)           # "Select All"
        click(244, 17)           # "Lumbra File"
        answer("the deep scan's recovery", 300)

    deep_start = os.path.join(work, "click-out-deep")
    run_program(deep_start, deep_scan_and_recover)
    # qformat is basic formatted again in place: its old deleted files are basic's rows
    rows = json.load(open("tests/fixtures/basic.json"))["deleted"]
    made = recovered(deep_start)
    bad = [(r["name"], made.get(r["name"], "missing")) for r in rows if made.get(r["name"]) != r["sha256"]]
    check(not bad and len(made) >= len(rows), "every old file of the quick-formatted volume, byte for byte",
          f"{len(made)} files for {len(rows)} old files; {bad[:5]}")

print(f"click: {passed} passed, {failed} failed")
with open(os.path.join(work, "click-counts"), "w") as f:
    f.write(f"{passed} {failed}\n")
