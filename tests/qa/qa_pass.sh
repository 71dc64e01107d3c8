# A new board (blank EEPROM) through the whole QA with the sensor simulator
# board on its input and an SBE37 and an optode on their ports: every check
# passes, the version
# banner is gone afterwards and after the next wake, the record is in the
# EEPROM, and the day's QA file holds the microSD line and the report, line
# for line as the console showed it.
. "$(dirname "$0")/lib.sh"
{
  echo 'expect ERROR  QA version check failed!!'
  qa_dialogue "Ann Tester" "12/09/26 10:00:00" qatest.txt 2
  printf '%s\n' 'send 9\r' 'expect Main Menu --' 'expect Enter Selection:\x20'
} | run qa --bench --clock "12/08/26 09:00:00"

for line in "   Pass EEPROM (sys_data size 888)" "   Pass sys_data init" "   Pass FRAM" \
  "Tester name recorded as: Ann Tester.  Welcome to Quality Assurance!" \
  "Time now: 12/09/26 10:00:00 Local" "  Passed" "  CTD interface passed" \
  "  Optode interface passed" "QA data written to EEPROM, use Test menu to see QA report"; do
  has qa "$line"
done
hasnt qa "sys_data.qa.adc24 error count"
hasnt qa "ERROR count"
# No banner once the QA is done.
sed -n '/Have a nice day/,$p' "$STATE/qa.log" > "$STATE/after.log"
grep -q "Main Menu -- $VERSION" "$STATE/after.log" || fail "no main menu after QA"
! grep -q "QA version check failed" "$STATE/after.log" || fail "banner after a passing QA"

# The report as printed: from its heading to the thank-you line.
sed -n '/^----- QA Procedure complete, QA Report:  -----$/,/^Thankyou/p' "$STATE/qa.log" |
  sed '1d;$d' | grep -v '^$' > "$STATE/report.txt"
grep -qx "Tester: Ann Tester" "$STATE/report.txt" || fail "report: tester"
grep -qx "Firmware version: $VERSION" "$STATE/report.txt" || fail "report: version"
grep -qx "Test timestamp:  12/09/26 10:00:00" "$STATE/report.txt" || fail "report: timestamp"
for ok in "microSD passed" "EEPROM passed" "sys_data initialized, passed" "FRAM passed" \
  "CTD passed" "Optode passed" "Aux Pwr1 failed" "Aux Pwr2 failed" "Aux Pwr3 failed" "Comm Pwr failed"; do
  grep -qx "$ok" "$STATE/report.txt" || fail "report: no '$ok'"
done
# No error in the last row; the bias batteries as the simulator has them.
tail -1 "$STATE/report.txt" | grep -qP '^\t    0   \t(-?\d\.\d{6}\t){18}   3\.600\t   3\.600\t$' ||
  fail "report values: $(tail -1 "$STATE/report.txt")"
elapsed=$(sed -n 's/^Elapsed time \([0-9]*\) sec$/\1/p' "$STATE/qa.log")
grep -qx "Test time = $elapsed sec" "$STATE/report.txt" || fail "test time $elapsed"

# The QA file: the microSD check's line, then the report.
card QA120926.TXT > "$STATE/qafile.txt"
{
  echo "QA microSD test  12/09/26 10:00:00"
  echo
  echo "QA Report:"
  cat "$STATE/report.txt"
} > "$STATE/qafile.want"
diff "$STATE/qafile.want" "$STATE/qafile.txt" || fail "QA file differs from the report"

# The metadata header went into the data file named during QA.
card QATEST.TXT | grep -qxF "// File name:     	qatest.txt" || fail "no metadata header in qatest.txt"

# The record as stored: version and tester at their EEPROM offsets.
field() { dd if="$STATE/board/eeprom.bin" bs=1 skip=$((1024 + 656 + $1)) count=$2 2>/dev/null | tr '\0' '@'; }
[ "$(field 196 19)" = "$VERSION@" ] || fail "stored version '$(field 196 19)'"
[ "$(field 148 11)" = "Ann Tester@" ] || fail "stored tester '$(field 148 11)'"

# The board is reset, not woken: what the EEPROM holds is what the QA
# stored (a board is often switched off right after its QA).
# The next start: no banner, and P shows the stored report.
run again <<'SCN'
expect Enter Selection:\x20
send 3\r
expect Enter Selection [9]:\x20
send P\r
expect Comm Pwr failed
expect Enter Selection [9]:\x20
send 9\r
expect Enter Selection:\x20
send 4\r
expect Sleeping...*
SCN
hasnt again "QA version check failed"
sed -n '/^QA Report:  $/,/^Enter Selection/p' "$STATE/again.log" | sed '1d;$d' | grep -v '^$' \
  > "$STATE/report2.txt"
# The menu that follows is not part of the report.
sed -i '/^Test Menu:$/,$d' "$STATE/report2.txt"
diff "$STATE/report.txt" "$STATE/report2.txt" || fail "stored report differs"
echo "ok: QA passed, report and QA file agree"
