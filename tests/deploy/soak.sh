# A week on a mooring in virtual time: see soak.py.
set -euo pipefail
rm -rf "$2"
exec python3 "$(dirname "$0")/soak.py" "$1" "$2"
