# The Tavlo board's QA: only the optode is tested, without the instrument
# heading, and its report has no firmware version, auxiliary power, CTD or
# Comm Pwr lines; its QA file and its banner behave as on Ombrix.
. "$(dirname "$0")/lib.sh"
{
  QA_BOARD=tavlo qa_dialogue "Tim Tester" "12/10/26 08:30:00" tavlo.txt 1
  printf '%s\n' 'send 9\r' 'expect Main Menu --' 'expect Enter Selection:\x20'
} | run qa --board tavlo --bench --clock "12/08/26 09:00:00"
hasnt qa "Enter Conductivity Serial #"
hasnt qa "Testing External Instrument interfaces"
hasnt qa "CTD interface"
# The Tavlo board does not switch the optode's supply: the optode, on all
# along with its serial interface asleep, is woken and gives its sample.
has qa "  Optode interface passed"
sed -n '/^----- QA Procedure complete, QA Report:  -----$/,/^Thankyou/p' "$STATE/qa.log" |
  sed '1d;$d' | grep -v '^$' > "$STATE/report.txt"
head -8 "$STATE/report.txt" > "$STATE/head.txt"
elapsed=$(sed -n 's/^Elapsed time \([0-9]*\) sec$/\1/p' "$STATE/qa.log")
printf '%s\n' "Tester: Tim Tester" "Test time = $elapsed sec" "Test timestamp:  12/10/26 08:30:00" \
  "microSD passed" "EEPROM passed" "sys_data initialized, passed" "FRAM passed" "Optode passed" |
  diff - "$STATE/head.txt" || fail "Tavlo report lines"
sed -n 9p "$STATE/report.txt" | grep -qx "ADC24 report:" || fail "Tavlo report: ADC24 next"
sed -n '/Have a nice day/,$p' "$STATE/qa.log" > "$STATE/after.log"
grep -q "Main Menu -- $("$SIM" --board tavlo --version)" "$STATE/after.log" || fail "no main menu"
! grep -q "QA version check failed" "$STATE/after.log" || fail "banner after a passing QA"
card QA121026.TXT | sed -n '3,$p' | diff <(echo "QA Report:"; cat "$STATE/report.txt") - ||
  fail "Tavlo QA file"
echo "ok: Tavlo QA"
