#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a fresh DESTDIR and checks what a desktop finds
# there: the files at their places, the desktop entry, AppStream metainfo and
# man pages through their validators, the polkit action naming the installed
# program, and the installed programs answering --version.
#   install_test.sh BUILD_DIR SOURCE_DIR PREFIX BINDIR VERSION
# Exit 77 (skipped) when everything present passed but a validator is not
# installed.
set -uo pipefail
build="$1" source="$2" prefix="$3" bindir="$4" version="$5"
id=com.osmikdata.Lumbra

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
failed=0
missing=()
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

if ! DESTDIR="$root" cmake --install "$build" >"$root.log" 2>&1; then
    cat "$root.log"
    rm -f "$root.log"
    fail "cmake --install"
    exit 1
fi
rm -f "$root.log"
p="$root$prefix"
share="$p/share"

# Everything at its place.
for f in "$root$bindir/lumbra" "$root$bindir/lumbra-cli" \
    "$share/applications/$id.desktop" "$share/metainfo/$id.metainfo.xml" \
    "$share/polkit-1/actions/com.osmikdata.lumbra.policy" "$share/icons/hicolor/scalable/apps/$id.svg" \
    "$share/man/man1/lumbra.1.gz" "$share/man/man1/lumbra-cli.1.gz" \
    "$share/doc/lumbra/LICENSE" "$share/doc/lumbra/copyright" "$share/doc/lumbra/changelog.gz"; do
    [ -f "$f" ] || fail "not installed: ${f#"$root"}"
done
cmp -s "$share/doc/lumbra/LICENSE" "$source/LICENSE" || fail "LICENSE differs from the source's"
# The screenshot driver is a build tool: neither installed nor inside the program.
[ -e "$root$bindir/lumbra-screenshot" ] && fail "lumbra-screenshot is installed"
grep -q LUMBRA_SCREENSHOT "$root$bindir/lumbra" && fail "the installed lumbra carries the screenshot mode"
grep -q "GNU GENERAL PUBLIC LICENSE" "$source/LICENSE" && grep -q "Version 3" "$source/LICENSE" ||
    fail "LICENSE is not the GPL version 3"
# Each PNG is as large as its folder says.
for size in 16 22 24 32 48 64 128 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/$id.png"
    got="$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "no PNG")' "$png" 2>&1)"
    [ "$got" = "${size}x${size}" ] || fail "icon ${size}x${size}: $got"
done

# The validators.
if command -v desktop-file-validate >/dev/null; then
    out="$(desktop-file-validate "$share/applications/$id.desktop" 2>&1)" || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate says: $out"
else
    missing+=(desktop-file-validate)
fi
if command -v appstreamcli >/dev/null; then
    out="$(appstreamcli validate --no-net --pedantic "$share/metainfo/$id.metainfo.xml" 2>&1)" ||
        fail "appstreamcli validate: $out"
else
    missing+=(appstreamcli)
fi
if command -v man >/dev/null && command -v groff >/dev/null; then
    for page in lumbra lumbra-cli; do
        # Warnings of groff and man (bad requests, lines that cannot be set)
        # count as failures.
        text="$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$share/man/man1/$page.1.gz" 2>"$root/man.err")" ||
            fail "man -l $page.1"
        [ -s "$root/man.err" ] && fail "man -l $page.1 warns: $(cat "$root/man.err")"
        for heading in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT "EXIT STATUS" SAFETY EXAMPLES LUMBRA_DRIVES \
            "Lumbra $version"; do
            grep -q "$heading" <<<"$text" || fail "$page(1) has no $heading"
        done
    done
else
    missing+=(man/groff)
fi

# The administrator's start: the desktop action runs pkexec on the very
# program that the polkit action allows, with the display.
python3 - "$share" "$bindir" "$id" <<'PY' || failed=$((failed + 1))
import configparser, sys, xml.etree.ElementTree as ET
share, bindir, app_id = sys.argv[1:]
policy = ET.parse(f"{share}/polkit-1/actions/com.osmikdata.lumbra.policy").getroot()
notes = {a.get("key"): a.text for a in policy.iter("annotate")}
ok = True
if notes.get("org.freedesktop.policykit.exec.path") != f"{bindir}/lumbra":
    print("FAIL: polkit exec.path is", notes.get("org.freedesktop.policykit.exec.path")); ok = False
if notes.get("org.freedesktop.policykit.exec.allow_gui") != "true":
    print("FAIL: polkit action without allow_gui"); ok = False
entry = configparser.ConfigParser(interpolation=None)
entry.optionxform = str
entry.read(f"{share}/applications/{app_id}.desktop")
action = entry["Desktop Action RunAsAdministrator"]
if action.get("Exec") != f"pkexec {bindir}/lumbra" or action.get("Name") != "Run as administrator":
    print("FAIL: desktop action", dict(action)); ok = False
if "RunAsAdministrator" not in entry["Desktop Entry"].get("Actions", "").split(";"):
    print("FAIL: the desktop entry does not list its action"); ok = False
sys.exit(0 if ok else 1)
PY
# The metainfo's release is this version.
grep -q "<release version=\"$version\"" "$share/metainfo/$id.metainfo.xml" || fail "metainfo has no release $version"

# The installed programs run and say their version; the window's program
# answers without a display (none is given, so touching one would fail).
out="$("$root$bindir/lumbra-cli" --version)" && [ "$out" = "lumbra-cli $version" ] || fail "lumbra-cli --version: $out"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root$bindir/lumbra" --version 2>&1)" &&
    [ "$out" = "lumbra $version" ] || fail "lumbra --version: $out"

if [ "$failed" -gt 0 ]; then
    echo "$failed install checks failed"
    exit 1
fi
if [ "${#missing[@]}" -gt 0 ]; then
    echo "SKIP: not installed: ${missing[*]} (scripts/lib/common.sh lists their packages)"
    exit 77
fi
echo "install checks passed"
