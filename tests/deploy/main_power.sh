# Restarts while deployed. A supply glitch during a sample, a main-power
# loss during a command visit and a power cut as a record reaches the card
# all restart the processor with cause power-on: the deployment resumes on
# its schedule, each restart logged once, no record lost or numbered twice
# (the record being written at the cut is taken again). The reset button
# ends the deployment, logged.
. "$(dirname "$0")/lib.sh"
deployed deploy "${BOARD[@]}" --set sampling_period=60 <<'SCN'
timeout 70
expect #0000001
wait 20
main-power-cycle
power-glitch 1200
expect #0000002
wait 5
send \x20
wait 1
main-power-cycle
timeout 70
expect #0000003
sd-fault power-cut 1
expect #0000004
wait 20
reset
timeout 10
expect Main Menu
wait 200
refute \t     12/08/2026
SCN
card noname.txt | grep '^#' > "$STATE/records.txt"
[ "$(wc -l < "$STATE/records.txt")" -eq 5 ] || fail "expected 5 records, found $(wc -l < "$STATE/records.txt")"
awk -F'\t' '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }' "$STATE/records.txt" \
  || fail "records not numbered in order"
# On the schedule after the start's catch-up, across every restart: a
# record taken again comes a few seconds late, never a period.
awk -F'\t' '{ split($2, t, /[ :]+/); s[NR] = t[3] * 3600 + t[4] * 60 + t[5] }
            END { for (i = 3; i <= NR; i++) { d = s[i] - s[2] - (i - 2) * 60; if (d < 0 || d > 3) exit 1 } }' \
  "$STATE/records.txt" || fail "records not a period apart: $(cut -f2 "$STATE/records.txt" | tr '\n' ' ')"
card Error.txt > "$STATE/errors.txt"
[ "$(grep -c 'Restart while deployed (power-on), deployment resumed' "$STATE/errors.txt")" -eq 3 ] \
  || fail "not one entry per restart: $(cat "$STATE/errors.txt")"
[ "$(grep -c 'Reset button while deployed, deployment ended' "$STATE/errors.txt")" -eq 1 ] \
  || fail "the reset button's end not logged once"
[ "$(grep -c . "$STATE/errors.txt")" -eq 4 ] || fail "unexpected entries: $(cat "$STATE/errors.txt")"
echo "ok: 5 records, 3 restarts resumed, the reset button ends"
