// The Aanderaa 5860 conductivity sensor's reply: product and serial
// number, conductivity, temperature, salinity, density and sound speed.
#include "instruments/ctd_base.h"
#include "instruments/instrument_engine.h"

using namespace instrument;

void ctd_Aand5860_parseData() {
  FieldScanner s(ctd.buf);
  unsigned pn = 0, sn = 0;
  float cond = 0, t = 0, sal = 0, density = 0, speed = 0;
  s.u(&pn) && s.u(&sn) && s.f(&cond) && s.f(&t) && s.f(&sal) && s.f(&density) && s.f(&speed);
  ctd_reading_valid = s.count == 7;
  if (!ctd_reading_valid) {
    uprintf("\nError:  sscanf for parsing Aanderaa 5860 does not return 7 args.  ctd.type = %u.  "
            "TempC and salt are 0.0\n",
            ctd.type);
    uprintf("\nCheck setup of Aanderaa 5860, enable derived, raw, etc.   To Fix, use Test Menu, "
            "Communicate with Instrument\n");
    cond = t = sal = 0;
  }
  ctd.condo = cond;
  ctd.tempC = t;
  ctd.salt = sal;
}

void ctd_Aand5860_comm_test() {
  uprintf("\nNote: smart sensor mode, disable data descriptor text, set flow control to none \n\n");
  uprintf("Output with descriptors looks like:\n"
          "MEASUREMENT\t5860\t29\tConductivity[mS/cm]\t-0.003\tTemperature[Deg.C]\t16.892\t...\n\n");
  uprintf("Command procedure to setup the sensor for numeric output:\n\n"
          "  (pass-key command)\n  set mode(smart sensor terminal)\n  set enable polled mode(yes)\n"
          "  save\n  (pass-key command)\n  set enable text(no)\n  save\n"
          "  (pass-key command, second key)\n  set Flow Control(none)\n  save\n  do sample\n");
  uprintf("\nThis should return a sample: \t5860\t29\t-0.003\t16.892\t0.009\t998.802\t1472.435\t\n\n");
  uprintf("\n\n*Press CTRL-X to stop communicating with the Conductivity instrument.*\n\n");
  ctd_open();
  relay_console(g_ctdPort, true);
  ctd_close();
}

void ctd_aanderaa_serial_analyzer() {
  uprintf("ctd serial analyzer, bytes and times  Ctrl-X to quit\n");
  serial_analyzer(g_ctdPort, ctd_open, ctd_close, false);
}
