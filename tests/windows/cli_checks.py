#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# lumbra-cli.exe under wine on every fixture drive that scripts/test-windows
# mapped: info (probe, geometry, partitions), scan --json against the
# manifest's rows and en-US times, and recover --all against the sha256 of
# what was written. Arguments: LETTER:FIXTURE pairs; environment: WORK (the
# run's folder) and CLI_EXE. Run from the checkout's root. Writes
# "passed failed" to $WORK/fixture-counts.

import hashlib, json, os, subprocess, sys
from datetime import datetime

work, cli = os.environ["WORK"], os.environ["CLI_EXE"]
passed = failed = 0

def wine(*args, timeout=300):
    for attempt in (1, 2):
        r = subprocess.run(["timeout", str(timeout), "wine", cli, *args], capture_output=True)
        # Every failure of lumbra-cli says why on stderr. Once in a CI run wine
        # itself gave back exit 1 and not a byte (it did not recur in 40 runs
        # of the same command): such a run is tried once more, and said so.
        if r.returncode == 0 or r.stdout or r.stderr or attempt == 2:
            break
        print(f"note: wine gave exit {r.returncode} and no output for {' '.join(args)}; trying once more")
    return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r\n", "\n"), r.stderr.decode("utf-8", "replace")

def check(ok, what, detail=""):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print(f"FAIL {what}" + (f": {detail}" if detail else ""))

def en_us(utc):
    # Short date M/d/yyyy, long time h:mm:ss tt; the time left out at
    # exactly midnight.
    if not utc:
        return ""
    t = datetime.strptime(utc, "%Y-%m-%dT%H:%M:%S.%fZ")
    text = f"{t.month}/{t.day}/{t.year:04d}"
    if (t.hour, t.minute, t.second, t.microsecond) != (0, 0, 0, 0):
        text += f" {t.hour % 12 or 12}:{t.minute:02d}:{t.second:02d} {'AM' if t.hour < 12 else 'PM'}"
    return text

def unplain(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)

def deep_checks(drive, tag, name, deep):
    # scan --deep over the drive lists every file of the original in its
    # volume, by name; recover --deep --all gives back each one the damage
    # left alone with the original's bytes.
    rc, out, err = wine("scan", "--deep", drive, "--json")
    try:
        rows = json.loads(out)
    except ValueError as e:
        check(False, f"{tag} scan --deep output is JSON", f"exit {rc}: {e}: {err[:300]}")
        return
    by_place = {(r["volumeStart"], r["record"]): r for r in rows}
    missing = [f["name"] for f in deep["files"]
               if by_place.get((f["volumeStart"], f["record"]), {}).get("name") != f["name"]]
    check(rc == 0 and not missing, f"{tag} scan --deep lists every file of the original", f"exit {rc}: {missing}")
    out_dir = os.path.join(work, "out", name + "-deep")
    rc, out, err = wine("recover", "--deep", drive, "--all", "--out", "Z:" + out_dir.replace("/", "\\"))
    check(rc == 0, f"{tag} recover --deep --all exit code", f"exit {rc}: {err[:300]}")
    target_of = {}
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) == 3:
            target_of[unplain(parts[0])] = unplain(parts[1])
    for f in deep["files"]:
        if not f["untouched"]:
            continue
        row = by_place.get((f["volumeStart"], f["record"]))
        target = target_of.get(row["caption"], "") if row else ""
        try:
            digest = hashlib.sha256(open(target[2:].replace("\\", "/"), "rb").read()).hexdigest()
        except OSError as e:
            digest = f"{target!r}: {e}"
        check(target.startswith("Z:\\") and digest == f["sha256"], f"{tag} recover --deep {f['name']!r} sha256",
              digest)

# A program without its recover command fails here, and then on every file
# it cannot give back below: recovery is never left unchecked.
_, _, usage = wine("help")
check("lumbra-cli recover" in usage, "lumbra-cli help lists the recover command", usage.strip()[:300])
label_note = False

for item in sys.argv[1:]:
    letter, name = item.split(":", 1)
    drive = letter.upper() + ":"
    m = json.load(open(f"tests/fixtures/{name}.json"))
    tag = f"{name} ({drive})"
    if "deep" in m:
        deep_checks(drive, tag, name, m["deep"])

    rc, out, err = wine("info", drive)
    if "partitions" in m:
        # A whole-disk image: info lists the table; each NTFS partition is
        # scanned through --partition and must list its volume's rows.
        lines = out.splitlines()
        want = [f"Partition {p['number']}: start {p['startByte']}, size {p['size']}, type {p['type']}"
                for p in m["partitions"]]
        missing = [w for w in want if not any(l.startswith(w) for l in lines)]
        check(rc == 0 and not missing, f"{tag} info lists the partitions", f"exit {rc}, missing {missing}")
        for p in m["partitions"]:
            if not p["ntfs"]:
                continue
            rc, out, err = wine("scan", drive, "--partition", str(p["number"]), "--json")
            try:
                got = [r["caption"] for r in json.loads(out)]
            except ValueError as e:
                got = [f"not JSON: {e}"]
            want = [r["caption"] for r in p["volume"]["deleted"]]
            check(rc == 0 and got == want, f"{tag} partition {p['number']} scan rows", f"exit {rc}: {got} vs {want}")
        continue
    if not m.get("ntfs", True):
        check(rc == 2 and "OEM: NTFS" not in out, f"{tag} info rejects a volume that is not NTFS", f"exit {rc}")
        rc, out, err = wine("scan", drive, "--json")
        check(rc == 2 and out.strip() == "", f"{tag} scan rejects it", f"exit {rc}: {out[:200]}")
        continue

    # The probe and the geometry, read through the raw device.
    b = m["boot"]
    lines = out.splitlines()
    serial = b["serial"].lstrip("0").rjust(8, "0")
    want = ["OEM: NTFS", f"Serial: {serial}", f"BytesPerSector: {b['bytesPerSector']}",
            f"SectorsPerCluster: {b['sectorsPerCluster']}", f"BytesPerCluster: {b['bytesPerCluster']}",
            f"BytesPerFileRecord: {b['bytesPerFileRecord']}"]
    missing = [w for w in want if w not in lines]
    check(rc == 0 and not missing, f"{tag} info", f"exit {rc}, missing {missing}")
    label_line = next((l for l in lines if l.startswith("Label: ")), None)
    if label_line == "Label: " and b.get("label"):
        if not label_note:
            print("note: wine gives no volume label for a raw-mapped drive; labels not compared")
            label_note = True
    else:
        check(label_line == "Label: " + (b.get("label") or ""), f"{tag} label", repr(label_line))

    # The rows: caption, name, type and size text as on Linux; the times as
    # this locale and zone show them.
    rc, out, err = wine("scan", drive, "--json")
    try:
        rows = json.loads(out)
    except ValueError as e:
        check(False, f"{tag} scan output is JSON", f"exit {rc}: {e}: {err[:300]}")
        continue
    expected = sorted(m["deleted"], key=lambda r: r["record"])
    key = lambda r: (r["caption"], r["name"], r["type"], r["sizeText"])
    got_keys, want_keys = [key(r) for r in rows], [key(r) for r in expected]
    check(rc == 0 and got_keys == want_keys, f"{tag} scan rows",
          f"exit {rc}\n  only in lumbra-cli.exe: {[k for k in got_keys if k not in want_keys]}"
          f"\n  only in the manifest: {[k for k in want_keys if k not in got_keys]}")
    by_caption = {r["caption"]: r for r in rows}
    bad_times = []
    for r in expected:
        g = by_caption.get(r["caption"])
        if g is None:
            continue
        for field, utc in (("created", "createdUtc"), ("modified", "modifiedUtc")):
            if g[field] != en_us(r.get(utc)):
                bad_times.append((r["caption"], field, g[field], en_us(r.get(utc))))
    check(not bad_times, f"{tag} date-time texts", str(bad_times[:5]))

    out_dir = os.path.join(work, "out", name)
    rc, out, err = wine("recover", drive, "--all", "--out", "Z:" + out_dir.replace("/", "\\"))
    targets = {}
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) == 3:
            targets[unplain(parts[0])] = (unplain(parts[1]), parts[2])
    check(rc == 0, f"{tag} recover --all exit code", f"exit {rc}: {err[:300]}")
    made = set()
    for r in expected:
        target, outcome = targets.get(r["caption"], ("", "no line"))
        if not target.startswith("Z:\\"):
            check(False, f"{tag} recover {r['caption']} {r['name']!r}", outcome)
            continue
        path = target[2:].replace("\\", "/")
        made.add(os.path.basename(path))
        try:
            digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
        except OSError as e:
            digest = str(e)
        # a row whose clusters were reused after its delete comes back as
        # other files' bytes, and its line says so
        reused = r.get("recoverability", {}).get("verdict") in ("partial", "overwritten")
        check((digest == r["sha256"]) != reused, f"{tag} recover {r['caption']} {r['name']!r} sha256",
              f"{digest} at {path}")
    left = sorted(set(os.listdir(out_dir) if os.path.isdir(out_dir) else []) - made)
    check(not left, f"{tag} recover leaves only the recovered files", str(left))

# A folder name outside the ANSI code page must reach the program intact.
basic = next(item.split(":", 1)[0] for item in sys.argv[1:] if item.endswith(":basic"))
row = json.load(open("tests/fixtures/basic.json"))["deleted"][0]
folder = os.path.join(work, "out", "r\u00e9cup\u00e9r\u00e9 \u6587\u4ef6")
rc, out, err = wine("recover", basic.upper() + ":", "--out", "Z:" + folder.replace("/", "\\"), row["caption"])
path = os.path.join(folder, row["name"])
digest = hashlib.sha256(open(path, "rb").read()).hexdigest() if os.path.isfile(path) else "no file"
check(rc == 0 and digest == row["sha256"], "recover into a folder named in UTF-16 only",
      f"exit {rc}, {digest}, {err.strip()[:300]}")

print(f"fixtures: {passed} passed, {failed} failed")
with open(os.path.join(work, "fixture-counts"), "w") as f:
    f.write(f"{passed} {failed}\n")
