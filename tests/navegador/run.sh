#!/bin/sh
# Runs the browser tests of the replay page; exits 77 (skipped) where Chromium or the
# playwright-core package is missing. Usage: run.sh ARENA_BIN TAVIK_BIN MODULES_DIR SONDA_BIN,
# MODULES_DIR being where prepara.sh installed the npm packages.
src=$(cd "$(dirname "$0")" && pwd)
moduls=${3:-$HOME/.cache/tavik-navegador}
if [ ! -x /usr/bin/chromium ]; then
  echo "SKIPPED: /usr/bin/chromium is missing (apt-get install chromium)"
  exit 77
fi
if ! command -v node >/dev/null || [ ! -d "$moduls/node_modules/playwright-core" ]; then
  echo "SKIPPED: playwright-core is missing in $moduls (run tests/navegador/prepara.sh)"
  exit 77
fi
# Node finds packages beside the test file: the test runs from a copy in the packages' folder.
cp "$src/navegador.mjs" "$src/repeticio.test.mjs" "$src/servei.test.mjs" "$moduls/"
ARENA_BIN="$1" TAVIK_BIN="$2" SONDA_BIN="$4" ROBOTS_DIR="$src/../robots" exec node --test \
  "$moduls/repeticio.test.mjs" "$moduls/servei.test.mjs"
