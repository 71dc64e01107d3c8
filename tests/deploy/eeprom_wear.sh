# The configuration record is programmed only where it changed: a steady
# deployment programs no EEPROM word at its wakes (printed, with the awake
# time per sample). A word worn past its
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
after=$(programmed)
read -r wakes awake < <(sed -n 's/.* \([0-9]*\) wakes, \([0-9.]*\) s awake.*/\1 \2/p' "$STATE/wakes.err")
echo "EEPROM program operations per wake in a steady deployment: $(((after - before) / wakes)) ($((after - before)) in $wakes wakes)"
echo "awake time per default sample: $(awk -v a="$awake" -v w="$wakes" 'BEGIN { printf "%.3f s", a / w }')"
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
