#!/usr/bin/env bash
# A tournament played as four shards through GNU parallel, then tallied, gives byte for byte the
# table of one run over the whole range; with a sequential test too. Usage: fragments.sh ARENA
set -euo pipefail
arena=$1
command -v parallel >/dev/null || { echo "skipped: GNU parallel is not installed"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# The recipe of the README, on this machine: one shard per job, one results file per shard.
parallel --will-cite -j 2 \
  "$arena --seeds {} --time 10 -j 1 --results shard-{}.jsonl tavik cacador >/dev/null 2>&1" \
  ::: 1-3 4-6 7-9 10-12
"$arena" --tally shard-*.jsonl > tally.txt
"$arena" --tally shard-*.jsonl --sprt 0 20 > tally-sprt.txt

"$arena" --seeds 1-12 --time 10 --results tot.jsonl tavik cacador > un.txt 2>/dev/null
"$arena" --tally tot.jsonl --sprt 0 20 > un-sprt.txt

status=0
for pair in "un.txt tally.txt" "un-sprt.txt tally-sprt.txt"; do
  set -- $pair
  if ! cmp -s "$1" "$2"; then
    echo "FAILED: $1 and $2 differ"; diff "$1" "$2" || true; status=1
  fi
done
grep -q "Tournament: 24 games, seeds 1 to 12" un.txt || { echo "FAILED: unexpected table"; cat un.txt; status=1; }
cat tally.txt
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
