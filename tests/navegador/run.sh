#!/bin/sh
# Runs the browser tests of the replay page; exits 77 (skipped) where Chromium or the
# playwright-core package is missing. Usage: run.sh ARENA_BIN TAVIK_BIN
cd "$(dirname "$0")" || exit 1
if [ ! -x /usr/bin/chromium ]; then
  echo "SKIPPED: /usr/bin/chromium is missing (apt-get install chromium)"
  exit 77
fi
if ! command -v node >/dev/null || [ ! -d node_modules/playwright-core ]; then
  echo "SKIPPED: playwright-core is missing (npm ci in tests/navegador)"
  exit 77
fi
ARENA_BIN="$1" TAVIK_BIN="$2" exec node --test repeticio.test.mjs
