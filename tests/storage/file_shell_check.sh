#!/usr/bin/env bash
# Runs the file shell scenario, then looks at the card image with mtools
# and fsck.fat: what the shell did must be there for any FAT reader.
# Usage: file_shell_check.sh RUN_SCENARIO SIM SCRIPT STATE_DIR
set -euo pipefail
run_scenario=$1 sim=$2 script=$3 state=$4
"$run_scenario" "$sim" "$script" "$state"
img=$state/sd.img

want=$(printf '%s\n' '::/LOGS/' '::/LOGS/NOTES.TXT' '::/LOGS/DEEPER01/' '::/LOGS/DEEPER01/DEEPER02/')
got=$(mdir -/ -b -i "$img" ::/ | sort)
if [ "$got" != "$(sort <<<"$want")" ]; then
  echo "mdir shows:"; echo "$got"; echo "expected:"; sort <<<"$want"; exit 1
fi
if [ "$(mtype -i "$img" ::/LOGS/NOTES.TXT)" != "$(printf 'line one\nline two')" ]; then
  echo "NOTES.TXT was not moved intact"; mtype -i "$img" ::/LOGS/NOTES.TXT; exit 1
fi
mdir -i "$img" ::/LOGS | grep -q '^NOTES    TXT        18 ' || {
  echo "NOTES.TXT lost its size"; mdir -i "$img" ::/LOGS; exit 1; }
/usr/sbin/fsck.fat -n "$img" >/dev/null || { /usr/sbin/fsck.fat -n "$img"; exit 1; }
echo "image agrees with the shell session"
