#!/bin/sh
# Installs the browser tests' npm packages (playwright-core, from the lock file) into DIR, a
# cache outside the source tree. Usage: prepara.sh [DIR] (default ~/.cache/tavik-navegador)
set -eu
dir=${1:-$HOME/.cache/tavik-navegador}
src=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
cp "$src/package.json" "$src/package-lock.json" "$dir/"
cd "$dir"
npm ci --no-audit --no-fund
