# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the benchmark scripts. Sourced, not run.
# bench_cli: builds lumbra-cli (Release) in its own build folder, so a
# benchmark never changes the options of the folder scripts/run uses, and
# prints its path.
bench_cli() {
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DLUMBRA_BUILD_TESTS=OFF -DLUMBRA_BUILD_APP=OFF >/dev/null
    cmake --build "$root/build-bench" --target lumbra-cli >/dev/null
    echo "$root/build-bench/cli/lumbra-cli"
}
