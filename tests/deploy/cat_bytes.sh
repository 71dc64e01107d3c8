# The file shell's cat of a 3000-line file delivers the file byte for byte
# (each LF as CR LF) and then the whole prompt, at both console rates and
# for short lines (the most line feeds to expand) and long ones.
. "$(dirname "$0")/lib.sh"
TRANSFER=("$(python_itself)" "$(dirname "$0")/transfer.py")
listing() {
  local name=$1 baud=$2 fmt=$3
  BOARD_DIR=$STATE/$name
  mkdir -p "$BOARD_DIR"
  truncate -s 64M "$BOARD_DIR/sd.img"
  /usr/sbin/mkfs.fat -F 32 --invariant "$BOARD_DIR/sd.img" > /dev/null
  for i in $(seq 1 3000); do printf "$fmt" "$i"; done > "$STATE/$name.txt.src"
  mcopy -i "$BOARD_DIR/sd.img" "$STATE/$name.txt.src" ::BIG.TXT
  run "$name" "${BOARD[@]}" --set "baud_rate=$baud" --baud "$baud" <<'SCN'
expect Enter Selection:\x20
send 5\r
expect />\x20
send cat big.txt\r
timeout 600
expect line 3000
expect \n/>\x20
send exit\r
wait 40
SCN
  "${TRANSFER[@]}" cat "$STATE/$name.txt.src" "$STATE/$name.txt" || fail "$name"
}
listing short-115200 115200 'line %04d\n'
listing long-115200 115200 'line %04d of a listing, with some text to make it longer\n'
listing short-9600 9600 'line %04d\n'
echo "ok: cat"
