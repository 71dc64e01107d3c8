# The board make sim starts on a new state directory: as it leaves the
# factory, with the default configuration, this firmware's QA version
# (no QA warning) and the clock at the host's local time. An existing board
# is left as it is; --blank keeps a new board blank.
. "$(dirname "$0")/lib.sh"
day_before=$(date +%m/%d/%Y)
run first --factory --set fileName=first.txt --set sampling_period=60 <<'SCN'
expect Main Menu -- $VERSION -- Will sleep in 30 seconds
send 2\r
timeout 40
expect #0000000
wait 5
SCN
day_after=$(date +%m/%d/%Y)
! grep -q 'QA version check failed' "$STATE/first.txt" || fail "a factory board warns about its QA"
day=$(card first.txt | grep '^#0000000' | cut -f2 | awk '{ print $1 }')
[ "$day" = "$day_before" ] || [ "$day" = "$day_after" ] || fail "the clock says $day, the host $day_after"
# Stopped, then started again as make sim does: nothing provisioned anew.
run again --factory <<'SCN'
send \x20
wait 0.5
send stop\r
timeout 10
expect Main Menu
send 2\r
timeout 40
expect Starting deployment...
expect #0000000
wait 5
SCN
[ "$(card first.txt | grep -c '^#')" -eq 2 ] || fail "the second run did not log to the board's own file"
rm -rf "$STATE/board"
run blank --factory --blank <<'SCN'
expect ERROR  QA version check failed!!
expect *  QA: , does not match firmware:
SCN
echo "ok: factory board on $day"
