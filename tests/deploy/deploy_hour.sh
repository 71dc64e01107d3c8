# Deployed with key 2 and a 20 s period: the first sample about two seconds
# after the note times out; an hour later the card holds the metadata
# header, the data header and one record per 20 s grid point.
. "$(dirname "$0")/lib.sh"
run deploy "${BOARD[@]}" --set sampling_period=20 <<'SCN'
expect Enter Selection:\x20
send 2\r
expect Enter Deployment Note [ ]:\x20
timeout 35
expect Starting deployment...
timeout 8
expect #0000000
wait 3560
SCN
card noname.txt > "$STATE/data.txt"
grep -q '^//++\*\*\*\*\*\*\*\*\*\*\*\*\*\* Deployment Settings' "$STATE/data.txt" || fail "no metadata header"
grep -q $'^ SampNum\t     MM/DD/YYYY HH:MM:SS\tVbatMain\t' "$STATE/data.txt" || fail "no data header"
n=$(records)
[ "$n" -eq 180 ] || fail "expected 180 records, found $n"
# Numbered in order, none missing.
card noname.txt | grep '^#' | awk -F'\t' '{ if ($1 != sprintf("#%07d", NR - 1)) { print "bad " $1; exit 1 } }' \
  || fail "records out of order"
# After the catch-up at the start, the records sit on the 20 s grid.
last=$(card noname.txt | grep '^#' | tail -1 | cut -f2)
case "$last" in *"10:59:"[024]"0"*|*"10:59:"[024]"1"*) ;; *) fail "last record at '$last'";; esac
echo "ok: $n records"
