# The console speed chosen in the configuration menu: the console changes
# at once, the record keeps the old rate until it is stored, and the next
# wake comes up at the new rate.
source "$(dirname "$0")/../deploy/lib.sh"

# expect_record NAME FIELD=VALUE...: the board's record is the factory
# record with these fields, byte for byte.
expect_record() {
  local name=$1
  shift
  local sets=()
  for s in "$@"; do sets+=(--set "$s"); done
  echo "# provisioning only" > "$STATE/empty.scn"
  "$SIM" --state "$STATE/$name" "${BOARD[@]}" "${sets[@]}" --script "$STATE/empty.scn" 2> /dev/null
  cmp -l "$STATE/$name/eeprom.bin" "$STATE/board/eeprom.bin" > "$STATE/$name.diff" ||
    fail "record after $name differs (byte offset - 1024, expected, found): $(head -5 "$STATE/$name.diff")"
}

run switch "${BOARD[@]}" <<'SCN'
expect Main Menu -- v3.8.6 Ombrix revB
send 1\r
expect Configuration Menu:
expect Enter Selection [9]:\x20
send 6\r
expect Enter Selection [9]:\x20
send 2\r
wait 2
refute Configuration Menu
SCN
expect_record unstored

# Chosen again, then left alone: the menu's time-out hibernates, and the
# hibernation stores the record.
run timeout <<'SCN'
expect Main Menu
send 1\r
expect Enter Selection [9]:\x20
send 6\r
expect Enter Selection [9]:\x20
send 2\r
wait 400
SCN
expect_record stored baud_rate=9600

run wake --baud 9600 <<'SCN'
send x
expect Main Menu -- v3.8.6 Ombrix revB
SCN
