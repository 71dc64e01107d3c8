# Power lost during a sample, at every moment: a supply glitch every 100 ms
# across a whole sample, and a power cut at each block write that samples
# and their log entries make. Each cut is a fresh copy of one deployed
# board; every one must resume, with its records numbered once each and the
# next samples on schedule. Prints how many resumed.
. "$(dirname "$0")/lib.sh"
fram_state() { od -An -tu4 -j $((0x40)) -N4 "$1/fram.bin" | tr -d ' '; }
deployed base "${BOARD[@]}" --set sampling_period=60 <<'SCN'
timeout 100
expect #0000002
wait 10
SCN
base_records=$(records)
cuts=0 resumed=0
power_cut() {
  local name=$1 step=$2
  cuts=$((cuts + 1))
  rm -rf "$STATE/$name"
  cp -r "$STATE/board" "$STATE/$name"
  printf '%s\n' "$step" 'wait 200' | BOARD_DIR=$STATE/$name run "$name"
  local n
  n=$(BOARD_DIR=$STATE/$name records)
  if [ "$(fram_state "$STATE/$name")" -eq 2 ] && [ "$n" -ge $((base_records + 3)) ] &&
     BOARD_DIR=$STATE/$name card noname.txt | grep '^#' | cut -f1 |
       awk '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }'; then
    resumed=$((resumed + 1))
  else
    echo "not resumed: $step ($n records)" >&2
  fi
  rm -rf "$STATE/$name"
}
for ms in $(seq 0 100 2500); do power_cut "glitch$ms" "power-glitch $ms"; done
for n in $(seq 1 12); do power_cut "card$n" "sd-fault power-cut $n"; done
echo "resumed deployments: $resumed of $cuts power cuts during samples"
[ "$resumed" -eq "$cuts" ] || fail "$((cuts - resumed)) deployments lost"
