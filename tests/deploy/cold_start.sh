# A deployed logger that loses all power, the hibernation module's battery
# too: the module starts cold, its RTC counting from 0 and its wake set-up
# gone. The logger resumes its deployment and says so in the error log;
# the records from before the cut are all there. A reset-button wake ends
# the deployment. (A loss of the main supply alone: main_power.sh.)
. "$(dirname "$0")/lib.sh"
deployed deploy "${BOARD[@]}" --set sampling_period=60 <<'SCN'
wait 100
power-cycle
SCN
run resumed <<'SCN'
timeout 10
refute Main Menu
timeout 120
expect #0000003
refute \t     12/08/2026
wait 20
reset
SCN
run reset <<'SCN'
expect Main Menu
wait 200
refute \t     01/01/1970
SCN
card Error.txt > "$STATE/errors.txt" || fail "no error log"
grep -q 'Cold start while deployed (power-on), deployment resumed' "$STATE/errors.txt" || fail "no log entry"
card noname.txt | grep '^#' > "$STATE/records.txt"
# One numbered run of records, none lost or repeated across the cut.
awk -F'\t' '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }' "$STATE/records.txt" \
  || fail "records not numbered in order"
grep -q $'^#0000002\t     12/08/2026 10:02:00' "$STATE/records.txt" || fail "the record before the cut is lost"
# The clock the module restarted: the records after the cut do not carry
# on from the time before it.
! grep -q $'^#0000003\t     12/08/2026' "$STATE/records.txt" || fail "the RTC survived the loss of its battery"
echo "ok: $(wc -l < "$STATE/records.txt") records"
