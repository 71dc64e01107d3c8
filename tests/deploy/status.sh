# The status reply "ds" of a deployed logger, on both boards and in both
# output modes: every value against what the simulator and the card hold;
# it takes no sample of its own, and an unknown line is still refused.
. "$(dirname "$0")/lib.sh"

stamp() { date -u -d "$1" +%s; }  # "2026/12/08 10:03:00" or "12/08/2026 10:03:00"
value() { sed -n "s/^$1 = //p" "$STATE/$tag-visit.clean"; }
expect_value() {
  local got
  got=$(value "$1")
  [ "$got" = "$2" ] || fail "$tag: $1 = '$got', expected '$2'"
}

status_case() {  # BOARD VERSION OUTPUT
  local board=$1 version=$2 output=$3
  tag=$board-$output
  BOARD_DIR=$STATE/$tag
  run "$tag-start" --board "$board" --factory-defaults --set "qa.firmware_version=$version" \
    --clock "12/08/26 10:00:00" --set sampling_period=60 --set "output=$output" <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect #0000000
timeout 200
expect #0000002
wait 10
SCN
  # The error log: one entry before this deployment, one during it whose
  # text runs over two lines.
  printf '\r\n2026/12/07 09:00:00 before the deployment\r\n2026/12/08 10:00:30 during it\r\ncontinued\r\n' \
    > "$STATE/$tag-errors.txt"
  mcopy -o -i "$BOARD_DIR/sd.img" "$STATE/$tag-errors.txt" ::Error.txt
  local bytes free records
  bytes=$(mtype -i "$BOARD_DIR/sd.img" ::noname.txt | wc -c)
  free=$(mdir -i "$BOARD_DIR/sd.img" :: | sed -n 's/ *\([0-9 ]*\) bytes free/\1/p' | tr -d ' ')
  records=$(records)
  local fram_step="# fram as found"
  [ "$tag" = tavlo-VERBOSE ] && fram_step="fault fram on"
  run "$tag-visit" --board "$board" --sensor Vbat=11.37 <<SCN
send \\x20
wait 0.5
$fram_step
send ds\\r
expect errors_since_deploy = 
wait 1
send dx\\r
expect NAK\\r\\n
fault fram off
wait 10
SCN
  tr -d '\r' < "$STATE/$tag-visit.txt" > "$STATE/$tag-visit.clean"

  [ "$(records)" -eq $((records + 1)) ] || fail "$tag: ds took a sample, or the visit's own one is missing"
  expect_value firmware "$version"
  expect_value board "${board^}"
  expect_value state DEPLOYED
  expect_value sampling_period 60
  expect_value sample_aligned 0
  expect_value samples "$records"
  expect_value fileName noname.txt
  expect_value data_file_bytes "$bytes"
  expect_value card_free_kB $((free / 1024))
  expect_value card ok
  expect_value errors_since_deploy 1
  if [ "$tag" = tavlo-VERBOSE ]; then
    # The sample figures live in the FRAM too.
    expect_value fram failed
    expect_value sample_energy "unknown (no sample measured yet)"
    echo "ok: $tag"
    return
  fi
  expect_value fram ok

  # Times against the records: the last one before the visit was on the
  # schedule, the visit's own is taken a few seconds after the reply.
  local last visit now
  last=$(card noname.txt | grep '^#' | tail -2 | head -1 | cut -f2 | sed 's/^ *//')
  visit=$(card noname.txt | grep '^#' | tail -1 | cut -f2 | sed 's/^ *//')
  now=$(stamp "$(value clock)")
  [ $(($(stamp "$(value next_wake)") - $(stamp "$last"))) -eq 60 ] ||
    fail "$tag: next_wake $(value next_wake) is not a period after $last"
  [ $(($(stamp "$visit") - now)) -ge 0 ] && [ $(($(stamp "$visit") - now)) -le 8 ] ||
    fail "$tag: clock $(value clock) against the visit's sample at $visit"
  local deployed
  deployed=$(card noname.txt | sed -n 's|^// Deploy time: *\t||p')
  [ -z "$deployed" ] || expect_value deploy_time "$deployed"
  [ "$(value deploy_time)" = "2026/12/08 10:00:01" ] || fail "$tag: deploy_time $(value deploy_time)"
  # A fresh reading, through the same converter as the records'.
  awk -v a="$(value battery_V)" 'BEGIN { exit !(a > 11.33 && a < 11.41) }' ||
    fail "$tag: battery_V $(value battery_V), the supply is 11.37 V"
  awk -v s="$(value sample_awake_s)" 'BEGIN { exit !(s > 1 && s < 5) }' ||
    fail "$tag: sample_awake_s $(value sample_awake_s)"
  echo "ok: $tag"
}

status_case ombrix "v3.8.6 Ombrix revB" NORMAL
status_case ombrix "v3.8.6 Ombrix revB" VERBOSE
status_case tavlo "v3.8.5 Tavlo revC" NORMAL
status_case tavlo "v3.8.5 Tavlo revC" VERBOSE
