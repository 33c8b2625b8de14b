#!/usr/bin/env bash
# Plays the bundled game against the robot running under Valgrind's memcheck; fails on any
# memory error or leak. Usage: tests/memcheck.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Valgrind goes in through a small launcher that takes the robot as its argument: named on the
# command line, the robot is carried into its sandbox even when the build is under /tmp.
cat > "$tmp/tavik" <<LAUNCH
#!/bin/sh
exec valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all --log-file="$tmp/memcheck.log" "\$1"
LAUNCH
chmod +x "$tmp/tavik"

if ! "$build/guio" "$tmp/tavik $build/tavik" "$top/tests/guions/partida.txt" > "$tmp/partida.out"; then
  cat "$tmp/partida.out" "$tmp/memcheck.log"
  echo "memcheck: FAILED"
  exit 1
fi
if [ -s "$tmp/memcheck.log" ]; then
  cat "$tmp/memcheck.log"
  echo "memcheck: FAILED"
  exit 1
fi
echo "memcheck: $(grep -c '^[<>]' "$tmp/partida.out") lines exchanged, 0 errors, 0 leaks"
