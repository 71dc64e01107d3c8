# The watchdog behind a deployed wake. A firmware stuck in a command visit
# (its interrupts still served, then with them masked) is reset by the
# watchdog within its bound, and the deployment resumes on its schedule,
# each reset logged once with its cause. A legitimate long wake (a 150 s
# pump) is not cut short.
. "$(dirname "$0")/lib.sh"
log_times() { card Error.txt | grep "$1" | cut -d' ' -f2; }
secs() { IFS=: read -r h m s <<< "$1"; echo $((10#$h * 3600 + 10#$m * 60 + 10#$s)); }

deployed deploy "${BOARD[@]}" --set sampling_period=300 <<'SCN'
wait 30
send \x20
wait 1
stall
timeout 400
expect #0000001
wait 30
send \x20
wait 1
stall masked
expect #0000002
wait 10
SCN
card Error.txt > "$STATE/errors.txt"
[ "$(grep -c 'Restart while deployed (watchdog), deployment resumed' "$STATE/errors.txt")" -eq 2 ] \
  || fail "watchdog resets not logged once each: $(cat "$STATE/errors.txt")"
[ "$(grep -c . "$STATE/errors.txt")" -eq 2 ] || fail "unexpected entries: $(cat "$STATE/errors.txt")"
# Stalled 31 s after a scheduled sample: the reset comes within the bound
# (120 s and two 5 s stages) and well before the next sample.
first=$(secs "$(log_times watchdog | head -1)")
start=$(secs "$(card noname.txt | grep '^#0000000' | cut -f2 | awk '{print $2}')")
[ $((first - start)) -ge 150 ] && [ $((first - start)) -le 170 ] \
  || fail "watchdog reset $((first - start)) s after the sample"
card noname.txt | grep '^#' | cut -f1 > "$STATE/numbers.txt"
[ "$(tr '\n' ' ' < "$STATE/numbers.txt")" = "#0000000 #0000001 #0000002 " ] \
  || fail "records: $(tr '\n' ' ' < "$STATE/numbers.txt")"

BOARD_DIR=$STATE/pump
run pump "${BOARD[@]}" --set sampling_period=600 --set pumpon_time=150 <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 200
expect #0000000
timeout 800
expect #0000001
wait 10
SCN
! card Error.txt 2>/dev/null | grep -q watchdog || fail "a 150 s pump was taken for a hang"
echo "ok: two stalls reset by the watchdog at $((first - start)) s, the deployment resumed; a long pump kept"
