# Data files of over 500 KB: every byte the data transfers sent is the
# card's. Only field A gives the shortest lines, so the most line feeds
# to expand; all fields at 9600 baud the longest transfer.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/transfer_lib.sh"
transfer_case a-normal-stop normal 115200 520000 '#0020000' "${ONLY_A[@]}"
transfer_case default-verbose verbose 115200 560000 "" "${DEFAULT_FIELDS[@]}"
transfer_case all-normal-9600 normal 9600 520000 "" "${ALL_FIELDS[@]}"
echo "ok: large transfers"
