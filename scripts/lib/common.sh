# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the scripts: where things are, and installing what is missing.
# Sourced, not run.

LUMBRA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export LUMBRA_ROOT

# Debian 12 packages the build and the tests need.
LUMBRA_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config ccache zstd
    libblkid-dev
    qt6-base-dev libfontconfig-dev
)
# What the window looks for at run time: Tahoma (from Wine's fonts, found
# through fontconfig) and a CJK font for the Chinese captions. The package
# recommends them; running, testing and screenshots install them.
LUMBRA_RUNTIME_PACKAGES=(fonts-wine fonts-wqy-microhei)
# The install test validates the desktop entry, the AppStream metainfo and
# renders the man pages.
LUMBRA_TEST_PACKAGES=(
    clang libclang-rt-14-dev clang-format-14
    libgtest-dev nlohmann-json3-dev libssl-dev openssl tzdata python3
    exfatprogs exfat-fuse
    desktop-file-utils appstream man-db groff-base
    # The window's click checks: a virtual X display and a mouse on it.
    xvfb xauth xdotool
    "${LUMBRA_RUNTIME_PACKAGES[@]}"
)

# The window's screenshot runs it on a virtual X display.
LUMBRA_SCREENSHOT_PACKAGES=(xvfb xauth "${LUMBRA_RUNTIME_PACKAGES[@]}")

# scripts/package (CPack's DEB generator, dependencies by dpkg-shlibdeps,
# then lintian) and scripts/check-package (a fresh Debian 12 root).
LUMBRA_PACKAGE_PACKAGES=(dpkg-dev file lintian)
LUMBRA_CHECK_PACKAGE_PACKAGES=(debootstrap zstd)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the named packages that are not installed yet (apt-get update only
# when something is missing, so a ready machine starts at once).
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

jobs_count() { nproc 2>/dev/null || echo 2; }

# configure_and_build DIR [cmake args...]
# The configure's output is kept in DIR/configure.log and shown when it fails.
configure_and_build() {
    local dir="$1"
    shift
    mkdir -p "$LUMBRA_ROOT/$dir"
    local log="$LUMBRA_ROOT/$dir/configure.log"
    if ! cmake -S "$LUMBRA_ROOT" -B "$LUMBRA_ROOT/$dir" -G Ninja "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "configure of $dir failed (its output: $log)" >&2
        return 1
    fi
    cmake --build "$LUMBRA_ROOT/$dir" -j "$(jobs_count)"
}

# prepare_sample BUILD_DIR: decompresses the bundled sample volume (an NTFS
# image with deleted files) into BUILD_DIR/sample and prints its path. It is
# made read-only: the source of a recovery is only ever read.
prepare_sample() {
    local dir="$LUMBRA_ROOT/$1/sample"
    local sample="$dir/sample-ntfs.img"
    mkdir -p "$dir"
    if [ ! -f "$sample" ] || [ "$LUMBRA_ROOT/tests/fixtures/basic.img.zst" -nt "$sample" ]; then
        rm -f "$sample"
        zstd -q -d -f "$LUMBRA_ROOT/tests/fixtures/basic.img.zst" -o "$sample"
        chmod a-w "$sample"
    fi
    echo "$sample"
}
