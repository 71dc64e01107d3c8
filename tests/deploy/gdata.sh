# Every scenario here ends with the logger asleep again, so that the next
# run of the simulator finds it hibernating.
# The data transfer: each gdata sends exactly what was appended since the
# previous one; a key stops a transfer at a line end and the next gdata
# carries on with the first record not yet sent.
. "$(dirname "$0")/lib.sh"
run start "${BOARD[@]}" --set sampling_period=20 <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 35
expect Starting deployment...
wait 200
SCN
# Everything so far: the headers and about ten records.
run first <<'SCN'
send \x20
wait 0.5
send gdata\r
timeout 10
expect #0000009
wait 1
send gdata\r
wait 12
SCN
tr -d '\r' < "$STATE/first.txt" > "$STATE/first.clean"
card noname.txt > "$STATE/card.txt"
sent=$(grep -c '^#' "$STATE/first.clean")
oncard=$(grep -c '^#' "$STATE/card.txt")
# Every record on the card went out once: those of the transfer, and the
# wake's own sample, echoed when it was taken after the commands.
[ "$sent" -eq "$oncard" ] || fail "the console carried $sent records, the card has $oncard"
# The second gdata sent nothing: no record appears twice.
[ "$(grep '^#' "$STATE/first.clean" | sort | uniq -d | wc -l)" -eq 0 ] || fail "records sent twice"

# A long transfer stopped by a key.
run more <<'SCN'
wait 2000
send \x20
wait 0.5
send gdata\r
expect #0000
send x
wait 12
SCN
# What the transfer sent: the console after the echoed command (the
# scheduled samples before it were echoed as they were taken).
after_gdata() { tr -d '\r' < "$1" | awk 'seen; /^gdata$/ { seen = 1 }'; }
after_gdata "$STATE/more.txt" > "$STATE/more.clean"
run rest <<'SCN'
send \x20
wait 0.5
send gdata\r
wait 20
SCN
after_gdata "$STATE/rest.txt" > "$STATE/rest.clean"
# The wake's own sample follows the transfer: leave it out.
stopped=$(($(grep -c '^#' "$STATE/more.clean") - 1))
[ "$stopped" -ge 1 ] || fail "nothing sent before the key"
[ "$stopped" -lt 90 ] || fail "the key did not stop the transfer ($stopped records)"
# The stopped transfer ended at a line end: its last record is whole.
last_more=$(grep '^#' "$STATE/more.clean" | tail -2 | sed -n 1p)
card noname.txt > "$STATE/card.txt"
grep -qxF "$last_more" "$STATE/card.txt" || fail "stopped transfer cut a record: '$last_more'"
# The next transfer starts with the record after it.
n_last=$(echo "$last_more" | cut -c2-8)
first_rest=$(grep -m1 '^#' "$STATE/rest.clean" | cut -c2-8)
[ $((10#$first_rest)) -eq $((10#$n_last + 1)) ] || fail "resumed at #$first_rest after #$n_last"
echo "ok: first $sent, stopped after $stopped, resumed at #$first_rest"
