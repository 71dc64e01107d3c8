#!/bin/sh
# The temperature and pH equations as the chip runs them: the chip build of
# ph.cpp, its soft-double helper calls in the disassembly, and, where
# qemu-arm (package qemu-user) is installed, the instructions executed per
# call by helper, and the chip's results over the grid of ph_dump compared
# bit for bit with the emulation of ph_oracle.py. Prints figures.
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-/tmp/phlogger-calc-cost}
mkdir -p "$out"
cpu="-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16"
cxx="arm-none-eabi-g++ -std=c++20 $cpu -Os -ffp-contract=off -fno-exceptions -fno-rtti
     -DPHLOGGER_BOARD=1 -I $top/firmware -I $top/platform/include -I $top/lib/fmt"
$cxx -c "$top/firmware/measure/ph.cpp" -o "$out/ph.o"
$cxx -c "$top/tests/measure/chip_cost/harness.cpp" -o "$out/harness.o"
arm-none-eabi-g++ $cpu --specs=nano.specs --specs=nosys.specs -nostartfiles \
    "$out/harness.o" "$out/ph.o" -lm -o "$out/harness.elf"
arm-none-eabi-objdump -d "$out/ph.o" > "$out/ph.dis"
if grep -qE '\bv(fma|fms|fnma|fnms|mla|mls|nmla|nmls)\b' "$out/ph.dis"; then
  echo "fused multiply-add in the chip build of ph.cpp: the rounding points are gone"
fi

echo "helper calls in the code of each function (static):"
awk '/^[0-9a-f]+ <.*>:$/ { fn = $2 }
     /\tbl\t/ { n = split($0, w, "<"); sub(/>.*/, "", w[n]); calls[fn " " w[n]]++ }
     END { for (k in calls) print "  " k ": " calls[k] }' "$out/ph.dis" | sort

if ! command -v qemu-arm > /dev/null; then
  echo "qemu-arm not installed: no executed-instruction counts"
  exit 0
fi
qemu-arm -cpu max -singlestep -d exec,nochain -D "$out/trace.log" "$out/harness.elf" ||
  { echo "wrong results under the emulator"; exit 1; }
arm-none-eabi-nm "$out/harness.elf" > "$out/syms"
python3 - "$out/syms" "$out/trace.log" <<'PY'
import collections, re, sys
start = {}
for line in open(sys.argv[1]):
    a, _, name = line.split()
    start[int(a, 16) & ~1] = name
parts = {"mark_temp": "DuraFET_temp", "mark_ext": "calc_pHext", "mark_int": "calc_pHint"}
part, total = None, collections.Counter()
ins, calls = collections.Counter(), collections.Counter()
for line in open(sys.argv[2]):
    if not line.startswith("Trace"):
        continue
    name = line.split()[-1]
    if name in parts or name == "mark_end":
        part = parts.get(name)
        continue
    if part is None:
        continue
    pc = int(re.search(r"\[[0-9a-f]+/([0-9a-f]+)/", line).group(1), 16)
    total[part] += 1
    ins[part, name] += 1
    if pc in start:
        calls[part, start[pc]] += 1
for p in ("DuraFET_temp", "calc_pHext", "calc_pHint"):
    print(f"{p}: {total[p]} instructions executed")
    for (q, name), n in sorted(ins.items(), key=lambda kv: -kv[1]):
        if q == p:
            print(f"    {name:22s} {n:6d} instructions {calls[q, name]:4d} calls")
PY
echo "cycles: about 1.2 to 1.5 per instruction on the Cortex-M4 with flash wait states (estimate)"

$cxx -c "$top/tests/measure/ph_dump.cpp" -o "$out/ph_dump.o"
$cxx -c "$top/tests/measure/chip_cost/bare.cpp" -o "$out/bare.o"
arm-none-eabi-g++ $cpu --specs=nano.specs --specs=nosys.specs -nostartfiles \
    "$out/bare.o" "$out/ph_dump.o" "$out/ph.o" -lm -o "$out/ph_dump.elf"
printf '#!/bin/sh\nexec qemu-arm -cpu max %s\n' "$out/ph_dump.elf" > "$out/ph_dump_chip"
chmod +x "$out/ph_dump_chip"
printf "chip build against the emulation: "
python3 "$top/tests/measure/ph_oracle.py" "$out/ph_dump_chip"
