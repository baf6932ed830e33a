#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# lumbra.exe under wine, driven through its messages by
# lumbra_window_driver.exe on every NTFS fixture drive: the rows, the closing
# messages, Select All, the recovered files, one instance at a time and a
# stopped scan. Arguments: LETTER:FIXTURE pairs; environment: WORK, APP_EXE,
# DRIVER_EXE and DISPLAY (an X server for wine). Run from the checkout's
# root. Writes "passed failed" to $WORK/window-counts.

import hashlib, json, os, subprocess, sys
from datetime import datetime

work, app, driver = os.environ["WORK"], os.environ["APP_EXE"], os.environ["DRIVER_EXE"]
app_win = "Z:" + app.replace("/", "\\")
passed = failed = 0

def check(ok, what, detail=""):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print(f"FAIL window: {what}" + (f": {detail}" if detail else ""))

def en_us(utc):
    if not utc:
        return ""
    t = datetime.strptime(utc, "%Y-%m-%dT%H:%M:%S.%fZ")
    text = f"{t.month}/{t.day}/{t.year:04d}"
    if (t.hour, t.minute, t.second, t.microsecond) != (0, 0, 0, 0):
        text += f" {t.hour % 12 or 12}:{t.minute:02d}:{t.second:02d} {'AM' if t.hour < 12 else 'PM'}"
    return text

def unplain(text):
    return text.replace("\\\\", "\x00").replace("\\t", "\t").replace("\\n", "\n").replace("\x00", "\\")

def drive_window(*args, cwd, timeout=300):
    try:
        r = subprocess.run(["timeout", str(timeout), "wine", driver, app_win, *args], cwd=cwd,
                           capture_output=True, timeout=timeout + 30)
        out = r.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    except subprocess.TimeoutExpired:
        out = "error\ttimed out\n"
    facts = [line.split("\t") for line in out.splitlines() if "\t" in line]
    return facts

SCAN_DONE = "When the scan is complete, check the file and click Lumbra file!"
SCAN_EMPTY = "Scan completed, no deleted file records found, please select another drive to try scanning！"
RECOVER_DONE = "文件数据恢复完成！"

for item in sys.argv[1:]:
    letter, name = item.split(":", 1)
    m = json.load(open(f"tests/fixtures/{name}.json"))
    if not m.get("ntfs", True):
        continue
    drive = letter.upper() + ":"
    tag = f"{name} ({drive})"
    out_dir = os.path.join(work, "window-out", name)
    os.makedirs(out_dir, exist_ok=True)
    # The rows' tooltips and tints: on the volume whose rows have all three
    # verdicts.
    details = name == "reuse"
    facts = drive_window(drive, *(["--details"] if details else []), cwd=out_dir)
    errors = [f[1] for f in facts if f[0] == "error"]
    check(not errors, f"{tag} driver", "; ".join(errors))
    if errors:
        continue
    # The update check runs before the window shows; its endpoint built in
    # never resolves, so it must end at once and leave no ver.txt behind
    # (the recovered files' check below sees every file in the folder).
    shown = next((int(f[1]) for f in facts if f[0] == "shown"), None)
    check(shown is not None and shown < 8000, f"{tag} window up without waiting on the update check", f"{shown} ms")
    title = next((f[1] for f in facts if f[0] == "title"), None)
    check(title == "Osmik Data Lumbra V1.0", f"{tag} window title", repr(title))
    boxes = [unplain(f[1]) for f in facts if f[0] == "box"]
    expected = sorted(m["deleted"], key=lambda r: r["record"])
    check(boxes[:1] == [SCAN_DONE if expected else SCAN_EMPTY], f"{tag} scan's closing message", repr(boxes[:1]))
    rows = [f[1:] for f in facts if f[0] == "row"]
    n = len(expected)
    scanned, ticked = rows[:n], rows[n:]
    want = [["1", r["caption"], r["name"], r["type"], r["sizeText"], en_us(r.get("createdUtc")),
             en_us(r.get("modifiedUtc"))] for r in expected]
    got = [[f[0]] + [unplain(x) for x in f[1:]] for f in scanned]
    check(got == want, f"{tag} lv1 rows", "\n".join(f"  got {g}\n want {w}" for g, w in zip(got, want) if g != w)
          or f"{len(got)} rows, {len(want)} expected")
    if details:
        # The tooltip: where the file was, then the verdict in words; the
        # text tinted grey when overwritten, dark amber when partial.
        tips = {int(f[1]): unplain(f[2]) if len(f) > 2 else "" for f in facts if f[0] == "tip"}
        tints = {int(f[1]): (int(f[2]), int(f[3])) for f in facts if f[0] == "tint"}
        bad_tips, bad_tints = [], []
        for i, r in enumerate(expected):
            rv = r["recoverability"]
            lost = f"{rv['inUse'] + rv['lostToNewer']} of {rv['clusters']} clusters now belong to other files"
            words = {"intact": f"Intact: none of its {rv['clusters']} clusters belong to other files",
                     "partial": f"Partial: {lost}", "overwritten": f"Overwritten: {lost}"}[rv["verdict"]]
            if tips.get(i) != r["path"] + "\n" + words:
                bad_tips.append((r["name"], tips.get(i)))
            grey, amber = tints.get(i, (-1, -1))
            if (grey > 0) != (rv["verdict"] == "overwritten") or (amber > 0) != (rv["verdict"] == "partial"):
                bad_tints.append((r["name"], rv["verdict"], grey, amber))
        check(len(tips) == n and not bad_tips, f"{tag} row tooltips", str(bad_tips))
        check(len(tints) == n and not bad_tints, f"{tag} row tints (grey, amber pixels)", str(bad_tints))
    if not expected:
        continue
    check(len(ticked) == n and all(f[0] == "2" for f in ticked), f"{tag} Select All ticks every row",
          f"{len(ticked)} rows after Select All, states {sorted(set(f[0] for f in ticked))}")
    check(len(boxes) > 1 and boxes[1] == RECOVER_DONE, f"{tag} recovery's closing message", repr(boxes[1:]))
    # Names that cannot be used as they are (path separators, control
    # characters, a name given twice) are written under the recovery's
    # target-name rules, so the files are matched by content.
    made = {}
    for base, _, files in os.walk(out_dir):
        for f in files:
            made[os.path.relpath(os.path.join(base, f), out_dir)] = hashlib.sha256(
                open(os.path.join(base, f), "rb").read()).hexdigest()
    plain = [r for r in expected if r["name"].isprintable() and not set(r["name"]) & set('\\/:*?"<>|')
             and not r["name"].endswith((".", " "))]
    # A row whose clusters were reused after its delete comes back as other
    # files' bytes: it must differ from the original, every other row match.
    def reused(r):
        return r.get("recoverability", {}).get("verdict") in ("partial", "overwritten")
    # Windows folders fold case and keep device names apart: only a name no
    # other row shares (in any case) and that is no device name keeps itself.
    devices = {"CON", "PRN", "AUX", "NUL"} | {f"{k}{i}" for k in ("COM", "LPT") for i in range(1, 10)}
    plain = [r for r in plain if r["name"].split(".")[0].upper() not in devices]
    bad = [(r["name"], made.get(r["name"], "missing")) for r in plain
           if sum(1 for x in expected if x["name"].lower() == r["name"].lower()) == 1
           and (made.get(r["name"]) == r["sha256"]) == reused(r)]
    check(not bad, f"{tag} recovered files' sha256 under their names", str(bad[:5]))
    intact = sorted(r["sha256"] for r in expected if not reused(r))
    check(len(made) == len(expected) and all(d in made.values() for d in intact),
          f"{tag} recovered files' contents", f"{len(made)} files written, {len(expected)} rows")
    code = next((f[1] for f in facts if f[0] == "exit"), None)
    check(code == "0", f"{tag} exit code after closing the window", repr(code))

# The drive list's menu: a right-click on the quick-formatted volume's
# entry selects it, "Deep Scan" reads it whole, and every old file it lists
# comes back byte for byte.
qformat = next((item.split(":", 1)[0] for item in sys.argv[1:] if item.endswith(":qformat")), None)
check(qformat is not None, "the quick-formatted volume has a drive letter")
if qformat is not None:
    drive = qformat.upper() + ":"
    # qformat is basic formatted again in place: its old deleted files are
    # basic's rows, at the same places (captions) and with the same bytes
    old_deleted = json.load(open("tests/fixtures/basic.json"))["deleted"]
    out_dir = os.path.join(work, "window-out", "qformat-deep")
    os.makedirs(out_dir, exist_ok=True)
    facts = drive_window("--deep", drive, cwd=out_dir)
    errors = [f[1] for f in facts if f[0] == "error"]
    check(not errors, f"deep scan of {drive} driver", "; ".join(errors))
    menu = next((f[1] for f in facts if f[0] == "menu"), None)
    check(menu == drive, f"the right-click selects {drive} and opens the menu", repr(menu))
    boxes = [unplain(f[1]) for f in facts if f[0] == "box"]
    check(boxes[:2] == [SCAN_DONE, RECOVER_DONE], "deep scan's and recovery's closing messages", repr(boxes))
    rows = [f[1:] for f in facts if f[0] == "row"]
    half = len(rows) // 2
    listed = {tuple(unplain(x) for x in r[1:]) for r in rows[:half]}
    want = [(r["caption"], r["name"], r["type"], r["sizeText"], en_us(r.get("createdUtc")),
             en_us(r.get("modifiedUtc"))) for r in old_deleted]
    missing = [w for w in want if w not in listed]
    check(half > 0 and not missing, "deep scan lists every old file", f"{half} rows; missing {missing[:3]}")
    made = {f: hashlib.sha256(open(os.path.join(out_dir, f), "rb").read()).hexdigest() for f in os.listdir(out_dir)}
    bad = [(r["name"], made.get(r["name"], "missing")) for r in old_deleted if made.get(r["name"]) != r["sha256"]]
    check(not bad and len(made) == half, "deep scan's files recovered byte for byte",
          f"{len(made)} files for {half} rows; {bad[:5]}")

# One copy at a time: a second lumbra.exe ends at once, with no window.
facts = drive_window("--instance", cwd=work, timeout=120)
inst = next((f for f in facts if f[0] == "instance"), None)
check(inst is not None and inst[1:] == ["ended", "0", "1"], "second lumbra.exe ends at once, one window",
      repr(facts))

# A second click on "Disk Scan" stops the run; the window rests and scans again.
basic = next(item.split(":", 1)[0] for item in sys.argv[1:] if item.endswith(":basic"))
want = len(json.load(open("tests/fixtures/basic.json"))["deleted"])
facts = drive_window("--stop", basic.upper() + ":", cwd=work, timeout=180)
stopped = next((f for f in facts if f[0] == "stopped"), None)
rescan = next((f for f in facts if f[0] == "rescan"), None)
check(stopped is not None and stopped[1] == "answers" and int(stopped[2]) <= want,
      "a second click stops the scan", repr(facts))
check(rescan is not None and int(rescan[1]) == want, "a scan after a stopped one lists every row", repr(rescan))

print(f"window: {passed} passed, {failed} failed")
with open(os.path.join(work, "window-counts"), "w") as f:
    f.write(f"{passed} {failed}\n")
