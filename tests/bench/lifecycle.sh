#!/usr/bin/env bash
# Prints how fast the simulated board runs the logger's idle life: virtual
# seconds per wall second for a main-menu time-out, and the wall time of
# 1000 hibernate/wake cycles. Figures only; nothing is asserted.
# Usage: lifecycle.sh PATH/TO/phlogger-sim
set -euo pipefail
sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/timeout.scn" <<'SCN'
timeout 40
expect Sleeping...*
SCN
start=$(date +%s.%N)
"$sim" --state "$work/a" --factory-defaults --script "$work/timeout.scn" 2>"$work/a.log"
end=$(date +%s.%N)
virt=$(sed -n 's/.*(\([0-9.]*\) virtual seconds.*/\1/p' "$work/a.log")
echo "idle menu time-out: ${virt} virtual s in $(echo "$end - $start" | bc) wall s:" \
     "$(echo "scale=1; $virt / ($end - $start)" | bc) virtual s per wall s"

{
  echo "expect Enter Selection:\x20"
  for _ in $(seq 1000); do
    echo 'send 4\r'
    echo 'expect Sleeping...*'
    echo 'wait 1'
    echo 'send k'
    echo 'expect Enter Selection:\x20'
  done
} > "$work/cycles.scn"
start=$(date +%s.%N)
"$sim" --state "$work/b" --factory-defaults --script "$work/cycles.scn" 2>"$work/b.log"
end=$(date +%s.%N)
echo "1000 hibernate/wake cycles: $(echo "$end - $start" | bc) wall s ($(tail -1 "$work/b.log"))"
