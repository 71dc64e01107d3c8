# A deployed logger that loses all power resumes its deployment when power
# comes back, and says so in the error log; a reset-button wake ends it.
. "$(dirname "$0")/lib.sh"
run deploy "${BOARD[@]}" --set sampling_period=60 <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect #0000000
wait 100
power-cycle
SCN
run resumed <<'SCN'
timeout 10
expect \t     12/08/2026 10:
refute Main Menu
timeout 120
expect \t     12/08/2026 10:
wait 20
reset
SCN
run reset <<'SCN'
expect Main Menu
wait 200
refute \t     12/08/2026
SCN
card Error.txt > "$STATE/errors.txt" || fail "no error log"
grep -q 'Cold start while deployed, deployment resumed' "$STATE/errors.txt" || fail "no log entry"
# One numbered run of records, none lost or repeated across the cut.
card noname.txt | grep '^#' | awk -F'\t' '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }' \
  || fail "records not numbered in order"
n=$(records)
[ "$(tr -d '\r' < "$STATE/resumed.txt" | grep -c '^#')" -ge 2 ] || fail "no samples after the power came back"
echo "ok: $n records"
