# The data transfer checked byte for byte against the card: sourced by the
# gdata_bytes_* tests after lib.sh.
TRANSFER=("$(python_itself)" "$(dirname "${BASH_SOURCE[0]}")/transfer.py")

# Field selections.
ALL_FIELDS=()
for i in $(seq 0 23); do ALL_FIELDS+=(--set "data_cfg[$i]=1"); done
ONLY_A=(--set "data_cfg[0]=1")
for i in $(seq 1 31); do ONLY_A+=(--set "data_cfg[$i]=0"); done
DEFAULT_FIELDS=()

raw_card() { mtype -i "$BOARD_DIR/sd.img" ::noname.txt > "$1"; }
saved_position() { od -An -tu4 -j $((0x48)) -N4 "$BOARD_DIR/fram.bin" | tr -d ' '; }
file_size() { mtype -i "$BOARD_DIR/sd.img" ::noname.txt | wc -c; }

# One transfer in a console wake, ended by the marker line "zz" once it has
# finished (the last record has gone out, or the key stopped it).
transfer_wake() {
  local name=$1 mode=$2 last=$3 stop=$4
  shift 4
  {
    echo 'send \x20'
    echo 'wait 0.5'
    echo 'send gdata\r'
    echo 'timeout 1200'
    if [ -n "$stop" ]; then
      echo "expect $stop\\t"
      echo 'send x'
      [ "$mode" = verbose ] && echo 'expect pumpoff, stop):\x20' || echo 'wait 3'
    else
      echo "expect $last\\t"
      [ "$mode" = verbose ] && echo 'expect pumpoff, stop):\x20' || echo 'wait 1'
    fi
    echo 'send zz\r'
    echo 'expect NAK\r\n'
    echo 'wait 15'
  } | run "$name" "$@"
}

# transfer_case NAME normal|verbose BAUD BYTES STOP [--set ...]: a deployment
# of 20 samples with the given fields and output mode, its data file grown
# to BYTES (0: as it is) with renumbered records; then gdata, stopped by a
# key at record STOP (empty: not stopped) and finished in the next wake.
# Every byte the transfers sent must be the card's, from the first unsent
# byte to the last, and the saved position must count exactly those.
transfer_case() {
  local name=$1 mode=$2 baud=$3 bytes=$4 stop=$5 last
  shift 5
  BOARD_DIR=$STATE/$name
  local line=(--baud "$baud")
  local out=1
  [ "$mode" = verbose ] && out=2
  run "$name-deploy" "${BOARD[@]}" "${line[@]}" --set "baud_rate=$baud" --set output=$out \
      --set sampling_period=20 "$@" <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect Starting deployment...
wait 400
SCN
  # The logger's own samples carry on the numbering of the added records.
  local numbering=()
  if [ "$bytes" -gt 0 ]; then
    raw_card "$STATE/$name.grow"
    "${TRANSFER[@]}" grow "$STATE/$name.grow" "$bytes"
    mcopy -o -i "$BOARD_DIR/sd.img" "$STATE/$name.grow" ::noname.txt
    last=$("${TRANSFER[@]}" lastnum "$STATE/$name.grow")
    numbering=(--set "current_sample=$((10#${last#\#} + 1))")
  fi
  local from size transcripts=()
  from=$(saved_position)
  raw_card "$STATE/$name.card"
  last=$("${TRANSFER[@]}" lastnum "$STATE/$name.card")
  if [ -n "$stop" ]; then
    transfer_wake "$name-stopped" "$mode" "$last" "$stop" "${line[@]}" "${numbering[@]}"
    numbering=()
    transcripts+=("$STATE/$name-stopped.txt")
    size=$(file_size)
    [ "$(saved_position)" -lt "$size" ] || fail "$name: the key did not stop the transfer"
  fi
  size=$(file_size)
  raw_card "$STATE/$name.card"
  last=$("${TRANSFER[@]}" lastnum "$STATE/$name.card")
  transfer_wake "$name-rest" "$mode" "$last" "" "${line[@]}" "${numbering[@]}"
  transcripts+=("$STATE/$name-rest.txt")
  [ "$(saved_position)" -eq "$size" ] || fail "$name: saved position $(saved_position), file had $size bytes"
  raw_card "$STATE/$name.card"
  "${TRANSFER[@]}" gdata "$mode" "$STATE/$name.card" "$from" "$size" "${transcripts[@]}" \
    || fail "$name: the transfers are not the card's bytes"
}
