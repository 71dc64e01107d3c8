# Data files of a few KB: every byte the data transfers sent is the card's,
# for several field selections, both output modes and both console rates,
# with and without a key stopping a transfer (finished in the next wake).
# Line ends that the card holds as LF go out as CR LF, nothing else changes.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/transfer_lib.sh"
transfer_case all-normal normal 115200 0 "" "${ALL_FIELDS[@]}"
transfer_case all-verbose-stop verbose 115200 12000 '#0000012' "${ALL_FIELDS[@]}"
transfer_case a-verbose-stop verbose 115200 8000 '#0000100' "${ONLY_A[@]}"
transfer_case a-normal-9600 normal 9600 3000 "" "${ONLY_A[@]}"
transfer_case default-normal-9600-stop normal 9600 9000 '#0000010' "${DEFAULT_FIELDS[@]}"
transfer_case default-verbose-9600 verbose 9600 0 "" "${DEFAULT_FIELDS[@]}"
echo "ok: small transfers"
