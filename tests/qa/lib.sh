# Shared by the whole-run QA tests. Each test is called as TEST SIM STATE.
# The deployment tests' helpers (run, card, fail), with each scenario's
# console also kept without carriage returns as NAME.log.
. "$(dirname "${BASH_SOURCE[0]}")/../deploy/lib.sh"
eval "deploy_$(declare -f run)"
run() {
  deploy_run "$@"
  tr -d '\r' < "$STATE/$1.txt" > "$STATE/$1.log"
}

# has NAME TEXT: the console log of scenario NAME holds the line TEXT.
has() { grep -qxF -- "$2" "$STATE/$1.log" || fail "$1: no line '$2'"; }
hasnt() { ! grep -qF -- "$2" "$STATE/$1.log" || fail "$1: unexpected '$2'"; }

# The QA dialogue from the main menu on: TESTER and CLOCK typed as given
# (empty: Enter alone), the metadata answered with the data file FILE and
# Enter for the rest, the board-sensor display ended after two lines and
# the front-end test after ROWS rows. QA_BOARD=tavlo has two metadata prompts
# fewer. Ends at the thank-you line.
qa_dialogue() {
  local tester=$1 clock=$2 file=$3 rows=${4:-1}
  local prompts=8
  [ "${QA_BOARD:-ombrix}" = tavlo ] && prompts=6
  printf '%s\n' 'expect Enter Selection:\x20' 'send 3\r' 'expect Enter Selection [9]:\x20' \
    'send Q\r' 'expect do you wish to proceed? [N]?\x20' 'send y\r' \
    'expect (your name will be added to the lottery drawing) [' 'expect ]:\x20' "send $tester\\r" \
    'expect Enter time [' 'expect ]:\x20' "send $clock\\r" \
    'expect Enter data file name (no spaces, 8.3 format) [' 'expect ]:\x20' "send $file\\r" \
    'expect Enter user initials [' 'expect ]:\x20' 'send \r'
  for ((i = 0; i < prompts; i++)); do printf '%s\n' 'expect ]:\x20' 'send \r'; done
  printf '%s\n' 'expect Redo metadata entry (Y/N) [N]:\x20\x20' 'send \r' \
    'expect more or less is a Fail.' 'send \r' 'expect i=2' 'send x\r' \
    'timeout 120' 'expect VTherm' 'expect \n'
  for ((i = 0; i < rows; i++)); do printf '%s\n' 'expect \n'; done
  printf '%s\n' 'send x\r' 'expect Have a nice day.' 'timeout 60'
}
