# The main supply fails while the hibernation module runs on from its own
# battery. Asleep, the logger does not notice: it wakes on its schedule
# with its clock right. Awake, it restarts as after the reset button, and
# the deployment ends. Nothing written before is lost either way.
. "$(dirname "$0")/lib.sh"
deployed deploy "${BOARD[@]}" --set sampling_period=60 <<'SCN'
timeout 70
expect #0000001
wait 20
main-power-cycle
expect #0000002
wait 5
send \x20
wait 1
main-power-cycle
timeout 10
expect Main Menu
refute Cold start
wait 200
refute \t     12/08/2026
SCN
card noname.txt | grep '^#' > "$STATE/records.txt"
[ "$(wc -l < "$STATE/records.txt")" -eq 3 ] || fail "expected 3 records, found $(wc -l < "$STATE/records.txt")"
awk -F'\t' '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }' "$STATE/records.txt" \
  || fail "records not numbered in order"
# One period apart across the cut: the RTC kept counting through it (the
# first record comes early, as the deployment starts).
awk -F'\t' '{ split($2, t, /[ :]+/); s[NR] = t[3] * 3600 + t[4] * 60 + t[5] }
            END { if (s[3] - s[2] != 60) exit 1 }' "$STATE/records.txt" \
  || fail "records not a period apart: $(cut -f2 "$STATE/records.txt" | tr '\n' ' ')"
if card Error.txt > "$STATE/errors.txt" 2>/dev/null; then
  ! grep -q 'Cold start' "$STATE/errors.txt" || fail "a main-power loss was taken for a cold start"
fi
echo "ok: 3 records, the clock kept"
