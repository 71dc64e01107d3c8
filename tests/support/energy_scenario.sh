# The run the energy test and the energy benchmark share: deploy, meter
# two whole periods (from record 2 to record 4, the same point of each
# sample), then ask the logger for its status. Prints the scenario.
energy_scenario() {  # PERIOD
  cat <<SCN
expect Enter Selection:\\x20
send 2\\r
timeout $(($1 * 3 + 120))
expect #0000002
energy reset
expect #0000004
energy report
wait 5
send \\x20
wait 0.5
send ds\\r
expect days_per_Ah_12V = 
wait 8
SCN
}
