# Console visits never move the schedule. Unaligned, period 120 s: a host
# that visits every 52 s, more often than the period, takes a sample at
# each visit, and every scheduled time is still sampled once, on time,
# with nothing in the error log. Aligned to the hour with a sample short
# enough to end within its grid second: one sample per grid point.
. "$(dirname "$0")/lib.sh"
secs() { awk -F'\t' '{ split($2, t, /[ :]+/); print t[3] * 3600 + t[4] * 60 + t[5] }'; }

{
  printf '%s\n' 'wait 10'
  for i in 1 2 3 4 5 6 7 8; do printf '%s\n' 'send \x20' 'wait 52'; done
  printf '%s\n' 'wait 200'
} | deployed visits "${BOARD[@]}" --set sampling_period=120
card noname.txt | grep '^#' | secs > "$STATE/times.txt"
visits=$(($(wc -l < "$STATE/times.txt") - 1))
for g in $((10 * 3600 + 120)) $((10 * 3600 + 240)) $((10 * 3600 + 360)) $((10 * 3600 + 480)) \
         $((10 * 3600 + 600)); do
  n=$(awk -v g=$g '$1 >= g && $1 <= g + 9' "$STATE/times.txt" | wc -l)
  [ "$n" -eq 1 ] || fail "unaligned: $n samples for the scheduled time $g"
done
# The first sample, the start's catch-up, eight visits, five scheduled
# times (one of them taken by the visit that ran over it).
[ "$visits" -eq 12 ] || fail "unaligned: $visits samples after the first"
! card Error.txt 2>/dev/null | grep -q . || fail "unaligned: visits logged: $(card Error.txt)"

BOARD_DIR=$STATE/aligned
fields=()
for i in $(seq 2 31); do fields+=(--set "data_cfg[$i]=0"); done
deployed aligned "${BOARD[@]}" --set sampling_period=60 --set sample_aligned=1 "${fields[@]}" <<'SCN'
wait 300
SCN
card noname.txt | grep '^#' | secs | tail -n +2 > "$STATE/aligned.txt"
[ "$(wc -l < "$STATE/aligned.txt")" -ge 4 ] || fail "aligned: $(wc -l < "$STATE/aligned.txt") samples in 300 s"
awk '$1 % 60 != 0 { exit 1 }' "$STATE/aligned.txt" || fail "aligned: a sample off the grid: $(tr '\n' ' ' < "$STATE/aligned.txt")"
echo "ok: $visits visit samples, every scheduled time sampled once; aligned samples on the grid only"
