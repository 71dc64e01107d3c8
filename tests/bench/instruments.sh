#!/usr/bin/env bash
# Prints the awake time of one sample on the simulated board without
# instruments and with each of them: the timing report's total ("wait TX")
# and the marks where the instruments finished. Figures only.
# Usage: instruments.sh PATH/TO/phlogger-sim
set -euo pipefail
sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
board=(--factory --clock "12/08/26 10:00:00"
       --set sampling_period=900 --set "app_cfg[0]=1")
cat > "$work/timing.scn" <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect wait TX
wait 1
SCN
printf '%-28s %10s %10s %10s %12s\n' "instruments" "optode ms" "CTD ms" "bias ms" "awake ms"
run() {
  local name=$1; shift
  rm -rf "$work/s"
  "$sim" --state "$work/s" "${board[@]}" "$@" --script "$work/timing.scn" \
    --transcript "$work/t.txt" 2>/dev/null
  tr -d '\r' < "$work/t.txt" | awk '/^Pump /{n++} n==1' > "$work/r.txt"
  mark() { awk -F'[=,]' -v m="$1" '$1 ~ "^"m {gsub(/ /,"",$3); print $3}' "$work/r.txt" | tail -n 1; }
  printf '%-28s %10s %10s %10s %12s\n' "$name" "$(mark 'Optode  ')" "$(mark 'CTD  ')" \
    "$(mark 'Bias Bat')" "$(mark 'wait TX')"
}
run "none" --set "data_cfg[24]=0" --set "data_cfg[25]=0"
run "optode" --set "data_cfg[24]=1" --set "data_cfg[25]=0"
run "SBE37" --set "data_cfg[24]=0" --set "data_cfg[25]=1" --ctd sbe37
run "Aanderaa 5860" --set "data_cfg[24]=0" --set "data_cfg[25]=2" --ctd aand5860
run "SBE37 + optode" --set "data_cfg[24]=1" --set "data_cfg[25]=1" --ctd sbe37
run "Aanderaa 5860 + optode" --set "data_cfg[24]=1" --set "data_cfg[25]=2" --ctd aand5860
run "silent SBE37 (2.5 s limit)" --set "data_cfg[24]=0" --set "data_cfg[25]=1" --ctd-set silent=1
echo "(model timing: announcement 1 s after power-up, reply 1.5 s after the command)"
