# A FRAM that fails does not end a deployment: the sampling state lives on
# in the hibernation module's battery-backed words. A FRAM that dies
# half-way is logged once and the samples go on, numbered on; a FRAM write
# that fails once is written again, logged once; a deployment started
# without a FRAM warns the operator and keeps going across wakes.
. "$(dirname "$0")/lib.sh"
numbered() {
  card noname.txt | grep '^#' | cut -f1 > "$STATE/$1.txt"
  awk '{ if ($1 != sprintf("#%07d", NR - 1)) exit 1 }' "$STATE/$1.txt" \
    || fail "$1: records not numbered once each: $(tr '\n' ' ' < "$STATE/$1.txt")"
}
entries() { card Error.txt 2>/dev/null | grep -c "$1" || true; }

deployed dies "${BOARD[@]}" --set sampling_period=60 <<'SCN'
timeout 70
expect #0000001
fram-write-fail 1 0x40
expect #0000002
wait 20
fault fram on
timeout 200
expect #0000005
wait 10
SCN
numbered dies
[ "$(wc -l < "$STATE/dies.txt")" -eq 6 ] || fail "dies: $(wc -l < "$STATE/dies.txt") records"
[ "$(entries 'FRAM write failed once, written again')" -eq 1 ] || fail "dies: the failed write not logged once"
[ "$(entries 'FRAM fails probe, sampling state kept in the hibernation module')" -eq 1 ] \
  || fail "dies: the fall-back not logged once: $(card Error.txt)"
[ "$(card Error.txt | grep -c .)" -eq 2 ] || fail "dies: unexpected entries: $(card Error.txt)"

BOARD_DIR=$STATE/none
deployed none "${BOARD[@]}" --set sampling_period=60 --no-fram <<'SCN'
timeout 200
expect #0000003
wait 10
SCN
grep -q 'WARNING: FRAM failed - sampling state kept in the hibernation module' "$STATE/none.txt" \
  || fail "none: the operator was not warned"
numbered none
[ "$(entries 'FRAM fails probe')" -eq 1 ] || fail "none: the fall-back not logged once"
echo "ok: a dying FRAM, a failed write and a missing FRAM keep the deployment"
