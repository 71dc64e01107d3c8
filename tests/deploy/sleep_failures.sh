# No failure keeps a deployed logger awake or moves its schedule: a failing
# configuration store, the same with a low battery, a clock that restarted
# at 0, and a deployed record with no period.
. "$(dirname "$0")/lib.sh"
fram_word() { od -An -tu4 -j "$1" -N4 "$BOARD_DIR/fram.bin" | tr -d ' '; }
next_wake() { fram_word $((0x44)); }
rtc_count() { od -An -tu4 -j 12 -N4 "$BOARD_DIR/hibernate.bin" | tr -d ' '; }
hibernating() { [ "$(od -An -tu4 -j 52 -N4 "$BOARD_DIR/hibernate.bin" | tr -d ' ')" -eq 1 ]; }
log_count() { card Error.txt | grep -c "$1" || true; }
deployed() {
  BOARD_DIR=$STATE/$1
  run "$1-start" "${BOARD[@]}" --set sampling_period=20 <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect #0000000
wait 60
SCN
}

# EEPROM programming fails from here on: one sample per period, the
# schedule as planned; a steady deployment has nothing to program, so
# nothing fails and nothing is logged.
deployed store
n0=$(records)
w0=$(next_wake)
run store-failing --eeprom-fail <<'SCN'
wait 100
SCN
[ $(($(records) - n0)) -eq 5 ] || fail "store: $(($(records) - n0)) samples in 100 s at a 20 s period"
[ $(($(next_wake) - w0)) -eq 100 ] || fail "store: schedule moved $(($(next_wake) - w0)) s in 100 s"
[ "$(log_count 'Error storing system data (sleep).')" -eq 0 ] || fail "store: unchanged record programmed"
hibernating || fail "store: awake at the end"

# Low battery too: the deployment ends in the idle hibernation.
deployed lowbatt
run lowbatt-failing --eeprom-fail --sensor Vbat=9 <<'SCN'
timeout 30
expect Low battery voltage (9.00 < 10.00) ! Exiting deploy mode...
wait 60
SCN
hibernating || fail "low battery: awake"
[ "$(log_count 'Error storing system data (sleep).')" -eq 0 ] || fail "low battery: unchanged record programmed"
[ "$(log_count 'Low battery')" -eq 1 ] || fail "low battery: not logged once"
[ "$(fram_word $((0x40)))" -eq 0 ] || fail "low battery: not idle"
[ "$(od -An -tu4 -j 32 -N4 "$BOARD_DIR/hibernate.bin" | tr -d ' ')" -eq 16 ] || fail "low battery: an RTC wake is armed"

# The hibernation module lost its battery: its count restarts at 0. The
# resumed deployment re-anchors its schedule at the clock and samples on.
deployed clock
rm "$BOARD_DIR/hibernate.bin"
n0=$(records)
run clock-lost <<'SCN'
wait 200
SCN
[ $(($(records) - n0)) -ge 10 ] || fail "clock lost: only $(($(records) - n0)) samples in 200 s"
[ $(($(next_wake) - $(rtc_count))) -le 20 ] || fail "clock lost: next wake $(next_wake) at RTC $(rtc_count)"
[ "$(log_count 'RTC lost while deployed')" -eq 1 ] || fail "clock lost: not logged once"
card noname.txt | grep '^#' | tail -1 | grep -q $'\t     01/01/1970 00:03:' || fail "clock lost: last record not at the clock's time"

# The hibernation module ignores the request (a jumper left fitted): each
# failed hibernation resets the processor, and the deployment carries on
# sampling on its schedule; the software reset adds no entry of its own.
deployed jumper
n0=$(records)
run jumper-fitted --no-hibernate <<'SCN'
wait 100
SCN
[ $(($(records) - n0)) -eq 5 ] || fail "jumper: $(($(records) - n0)) samples in 100 s at a 20 s period"
[ "$(log_count 'Hibernation error')" -ge 5 ] || fail "jumper: hibernation errors not logged"
[ "$(log_count 'Restart while deployed')" -eq 0 ] || fail "jumper: software resets logged as restarts"

# A deployed record with period 0 (aligned or not) samples on command only.
BOARD_DIR=$STATE/zero
run zero "${BOARD[@]}" --set sampling_period=0 --set sample_aligned=1 --set state=2 <<'SCN'
timeout 20
expect Deployed in polled mode, space to wake, then ts ...
wait 60
send \x20
wait 0.5
send ts\r
timeout 10
expect #0000001
wait 30
SCN
[ "$(records)" -eq 2 ] || fail "period 0: $(records) samples, expected the start's and the ts"
[ "$(fram_word $((0x40)))" -eq 3 ] || fail "period 0: not in polled mode"
echo "ok: sleep failures"
