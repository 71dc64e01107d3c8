# Each QA check failing on its own, with its message, its field in the
# report, and every other check still passing.
. "$(dirname "$0")/lib.sh"

# qa_case NAME TESTER CLOCK [simulator options...]: a new board through QA.
qa_case() {
  local name=$1 tester=$2 clock=$3
  shift 3
  rm -rf "$STATE/board"
  qa_dialogue "$tester" "$clock" data.txt 1 | run "$name" --clock "12/08/26 09:00:00" "$@"
  sed -n '/^----- QA Procedure complete, QA Report:  -----$/,/^Thankyou/p' "$STATE/$name.log" \
    > "$STATE/$name.report"
}
# failed_only NAME CHECK...: the report of NAME shows exactly these checks
# failed among those a board can fail here.
failed_only() {
  local name=$1
  shift
  for check in microSD EEPROM FRAM CTD Optode; do
    local want="$check passed"
    for f in "$@"; do [ "$f" = "$check" ] && want="$check failed"; done
    grep -qx "$want" "$STATE/$name.report" || fail "$name: no '$want'"
  done
}

# No FRAM answering; Enter at the tester and clock prompts keeps both.
qa_case fram "" "" --bench --no-fram
has fram "   Fail FRAM.   This board cannot be used for science"
has fram "Tester name recorded as: Ridar Orud.  Welcome to Quality Assurance!"
hasnt fram "Time now:"
has fram "   Test timestamp:  12/08/26 09:00:00"
failed_only fram FRAM
grep -qx "sys_data initialized, passed" "$STATE/fram.report" || fail "fram: sys_data"

# An empty card slot: the QA file and the metadata both fail, in order.
qa_case nocard "Ann Tester" "12/09/26 10:00:00" --bench --sd-no-card
grep -A1 -x "QA: ----- microSD test -----" "$STATE/nocard.log" |
  grep -qx "QA file failed to open, check microSD card slot for 8GB uSD" || fail "nocard: open message"
has nocard "FAIL: Not able to write metadata, File system error, check SD Card"
failed_only nocard microSD

# The final store fails: the results stay in memory, marked failed, and the
# next start still warns that no QA has been recorded.
qa_case store "Ann Tester" "12/09/26 10:00:00" --bench --eeprom-fail
has store "Error storing system data in EEPROM"
hasnt store "QA data written to EEPROM"
failed_only store EEPROM
grep -qx "sys_data NOT initialized, failed" "$STATE/store.report" || fail "store: sys_data"
run store_next <<'SCN'
expect QA version check failed!!
expect Enter Selection:\x20
SCN

# One front-end channel out of its window: the thermistor at 0.95 V.
qa_case vtherm "Ann Tester" "12/09/26 10:00:00" --bench --sensor Vtherm=0.95 --sensor noise_uV=0
grep -q ' 0\.950000 Err   ERROR count = 1  $' "$STATE/vtherm.log" || fail "vtherm: row"
has vtherm "sys_data.qa.adc24 error count = 1"
failed_only vtherm
values=$(grep -P '^\t    1   \t' "$STATE/vtherm.report") || fail "vtherm: ADCerr"
[ "$(cut -f9,11 <<<"$values")" = "$(printf '0.950000\t-0.042000')" ] ||
  fail "vtherm: Vtherm and its error in '$values'"
# No CTD on its port, then an optode that stays silent.
qa_case ctd "Ann Tester" "12/09/26 10:00:00" --bench --ctd none
has ctd "  CTD interface failed"
has ctd "  Optode interface passed"
failed_only ctd CTD
qa_case optode "Ann Tester" "12/09/26 10:00:00" --bench --optode off
has optode "  CTD interface passed"
has optode "  Optode interface failed"
failed_only optode Optode
echo "ok: every check fails alone"
