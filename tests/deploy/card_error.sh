# A card that refuses a block write during a record: the failure is in the
# error log, and the following samples' records are on the card.
. "$(dirname "$0")/lib.sh"
deployed deploy "${BOARD[@]}" --set sampling_period=60 <<'SCN'
wait 70
sd-fault write-error 1
timeout 70
expect #0000002
expect error
wait 150
SCN
card Error.txt > "$STATE/errors.txt" || fail "no error log"
grep -Eq '^20[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9:]{8} f_(close|open|lseek) error' "$STATE/errors.txt" \
  || { cat "$STATE/errors.txt"; fail "no entry for the failed record"; }
card noname.txt > "$STATE/data.txt"
# The record whose write failed is lost (nothing is retried); the next
# ones are there.
grep -q '^#0000003' "$STATE/data.txt" || fail "the next record is missing"
grep -q '^#0000004' "$STATE/data.txt" || fail "the record after it is missing"
fsck.fat -n "$STATE/board/sd.img" > "$STATE/fsck.txt" 2>&1 || { cat "$STATE/fsck.txt"; fail "fsck"; }
echo "ok: $(grep -c . "$STATE/errors.txt") error entries"
