#!/usr/bin/env bash
# Runs every one-line arena command the READMEs show, as written, in a fresh folder where
# ./build holds the built programs (and tavik-new, a copy of tavik). Usage: ordres_readme.sh BUILD
set -uo pipefail
build=$(cd "$1" && pwd)
arrel=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/build"
for p in arena tavik cacador rodamon; do ln -s "$build/$p" "$dir/build/$p"; done
cp "$build/tavik" "$dir/build/tavik-new"
ln -s "$arrel/examples" "$dir/examples"
cd "$dir"

passed=0 failed=0
while IFS= read -r ordre; do
  # A tally of shards: the shards are the results of a tournament the READMEs ran before it.
  patro=$(grep -o '[^ ]*shard-\*\.jsonl' <<< "$ordre" || true)
  if [ -n "$patro" ] && ! compgen -G "$patro" > /dev/null; then
    mkdir -p "$(dirname "$patro")"
    cp "$(ls out/tournament-*.jsonl | head -n 1)" "${patro/\*/1}"
  fi
  echo "== $ordre"
  if timeout 600 bash -c "$ordre" > sortida.txt 2> errors.txt < /dev/null; then
    passed=$((passed + 1))
  else
    echo "FAILED (exit $?):"; tail -n 5 sortida.txt errors.txt; failed=$((failed + 1))
  fi
done < <(for f in "$arrel/arena/README.md" "$arrel/README.md"; do
  awk '/^```sh/{b=1;next} /^```/{b=0} b' "$f" | grep -o '\./build/arena.*' |
    grep -v -e '\\$' -e '\$' -e "'" | sed 's/ *#.*$//'
done)
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
