# The configuration record is programmed only where it changed: a steady
# deployment programs no EEPROM word at its wakes. A word worn past its
# endurance no longer takes a value, and the store that needs it says so.
. "$(dirname "$0")/lib.sh"
programmed() { od -An -tu4 -v "$BOARD_DIR/eeprom-wear.bin" | tr -s ' ' '\n' | awk '{ s += $1 } END { print s + 0 }'; }
BOARD_DIR=$STATE/board
deployed steady "${BOARD[@]}" --set sampling_period=20 <<'SCN'
wait 30
SCN
before=$(programmed)
run wakes <<'SCN'
wait 200
SCN
wakes=$(($(records) - 2))
after=$(programmed)
echo "EEPROM program operations per wake in a steady deployment: $(((after - before) / wakes)) ($((after - before)) in $wakes wakes)"
[ "$after" -eq "$before" ] || fail "$((after - before)) words programmed in $wakes steady wakes"

# Worn out: a new deployment changes the record (its start time), and the
# store fails where it did not stick.
run worn <<'SCN'
eeprom-wear 500000
send \x20
wait 0.5
send stop\r
timeout 20
expect Enter Selection:\x20
send 2\r
timeout 60
expect Error storing system data (sleep).
SCN
echo "ok: no EEPROM word programmed at a steady wake; a worn word reported"
