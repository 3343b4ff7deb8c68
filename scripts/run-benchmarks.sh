#!/usr/bin/env bash
# Runs every benchmark program that the build produced; each prints its own figures.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
found=0
for b in "$build"/bench/*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ $found -eq 1 ] || echo "no benchmarks built"
