#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a fixed number of runs
# over its seed corpus (fuzz/corpus/<name>/). Usage: bash scripts/fuzz.sh [build-folder] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
runs=${2:-20000}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DQUENTA_SANITIZE=address -DQUENTA_BUILD_FUZZ=ON -DQUENTA_BUILD_GUI=OFF -DQUENTA_BUILD_TESTS=OFF \
  -DQUENTA_BUILD_BENCH=OFF
shopt -s nullglob
targets=()
for src in "$root"/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  targets+=(--target "$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets"; exit 0; }
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
# Each target's corpus copy and drive root live in one temporary folder, removed at the end (also
# when a target fails).
work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus="$root/fuzz/corpus/${name%_fuzz}"
  mkdir -p "$work/$name/corpus" "$work/$name/drives"
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work/$name/corpus"/
  echo "--- $name: $runs runs"
  QUENTA_DRIVE_ROOT="$work/$name/drives" UBSAN_OPTIONS=halt_on_error=1 \
    "$target" -runs="$runs" -max_len=8192 "$work/$name/corpus"
done
