# The firmware's battery estimate against the simulator's energy meter:
# the average power "ds" reports agrees within 10 % with what the meter
# measured over whole periods of the same deployment, for the default
# configuration, the smallest record and the instruments with a pump time.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../support/energy_scenario.sh"

off_fields=()
for i in 1 2 3 4 5 6 7 8 9 11 15 16 17 18 19 20 21 22 23; do off_fields+=(--set "data_cfg[$i]=0"); done

estimate_case() {  # NAME PERIOD [options...]
  local name=$1 period=$2
  shift 2
  BOARD_DIR=$STATE/$name
  energy_scenario "$period" | run "$name" "${BOARD[@]}" --set "sampling_period=$period" "$@"
  local metered estimated
  metered=$(sed -n 's/^energy: .* average \([0-9.]*\) mW$/\1/p' "$STATE/$name.err")
  estimated=$(tr -d '\r' < "$STATE/$name.txt" | sed -n 's/^average_power_mW = //p')
  [ -n "$metered" ] && [ -n "$estimated" ] || fail "$name: no figures (meter '$metered', ds '$estimated')"
  awk -v m="$metered" -v e="$estimated" 'BEGIN { d = (e - m) / m; exit !(d < 0.10 && d > -0.10) }' ||
    fail "$name: estimated $estimated mW, metered $metered mW"
  echo "ok: $name: estimated $estimated mW, metered $metered mW"
}

estimate_case default 60
estimate_case minimum 30 "${off_fields[@]}"
estimate_case instruments 120 --set "data_cfg[24]=1" --set "data_cfg[25]=1" --set pumpon_time=5
