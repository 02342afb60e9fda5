#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Fuzzes with libFuzzer: ./fuzz.sh [naming|web] [SECONDS] (default naming, 60 seconds): the
# naming engine, or the web server's request handling in memory.
# Builds fuzz_TARGET with clang in build-fuzz/ and runs it from the committed corpus
# (fuzz/corpus for naming, fuzz/corpus-web for web). New interesting inputs go to
# build-fuzz/fuzz-new-TARGET (not the committed corpus); crashing inputs go to
# build-fuzz/fuzz-crashes.
set -euo pipefail

target=naming
case ${1:-} in naming | web) target=$1; shift ;; esac
seconds=${1:-60}
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [naming|web] [SECONDS]" >&2; exit 2 ;;
esac
corpus=corpus
[ "$target" = naming ] || corpus=corpus-$target

root=$(cd "$(dirname "$0")" && pwd)
build=$root/build-fuzz
scratch=$build/fuzz-new-$target
crashes=$build/fuzz-crashes

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
missing=()
for package in clang libclang-rt-14-dev; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DMR_LIBFUZZER=ON
cmake --build "$build" --target "fuzz_$target" -j2

mkdir -p "$scratch" "$crashes"
echo "fuzzing for ${seconds}s; new inputs: $scratch; crashes: $crashes/"
status=0
"$build/fuzz/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$crashes/" \
    -print_final_stats=1 "$scratch" "$root/fuzz/$corpus" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz_$target failed (exit $status); crashing inputs are in $crashes/:" >&2
    ls -l "$crashes" >&2
    echo "replay one with: $build/fuzz/fuzz_$target $crashes/crash-..." >&2
else
    echo "no crash; crashes would be in $crashes/"
fi
exit "$status"
