// Every run of main is one wake of the logger: start-up, the wake cause,
// then the action of the stored sampling state, ending in hibernation.
#include "core/main.h"

#include <cstring>

#include "config/config_menu.h"
#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/deploy.h"
#include "core/init.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "qa/test.h"
#include "storage/microsd.h"

uint32_t deployDelay = 30;
int32_t microSD_flg = 1;

namespace {

constexpr uint32_t kHelpTimeout = 30000;  // seconds

void print_lines(const char *const *lines, size_t n) {
  for (size_t i = 0; i < n; i++) uprintf("%s", lines[i]);
}

void page_end() {
  uprintf("\n");
  wait_consoleTx();
}

void print_configuration_page() {
  static const char *const lines[] = {
      "\n\n--------- Configuration --------------\n",
      "Configuration checklist: (use Main Menu 1--Configure)\n",
      "1 -- Set Clock\n",
      "2 -- Change File Name\n",
      "3 -- Set Deployment Parameters\n",
      "        - Sample aligned to hour? (Y/N) [Y]?\n",
      "        - Enter sample period [20] sec:   Polled Mode: configure with a period of 0 "
      "seconds\n",
      "        - Enter pump on time [0] sec:\n",
      "        - Enter low battery_voltage (10.5 V for Ombrix with pump, 5.5 V for Tavlo) [5.5 "
      "V]:\n",
      "4 -- Enter pH Sensor Calibration Coefficients\n",
      "7 -- Config Data Fields\n",
  };
  print_lines(lines, sizeof lines / sizeof lines[0]);
  page_end();
}

void print_test_page() {
  static const char *const lines[] = {
      "\n\n--------- Test Mode commands ---------\n",
      "Test menu: (use Main Menu 3--Test)\n",
      "\n",
      "Run QA and setup after board manufacture to initialize EEPROM and configuration "
      "defaults - CLEARS EEPROM MetaData and config, restores defaults\n",
      "\n",
      "For 24bit ADC and Analog board bringup, use 8 -- Test 24bit ADC and MUX channels\n",
      "\n",
      "Use D -- Data Header to see the data fields configured for logging as well as sampling "
      "sequence timing\n",
      "\n",
      "Test communications with periperhal instruments such as Aanderaa optode, conductivity, "
      "SBE37 MicroCat CTD\n",
  };
  print_lines(lines, sizeof lines / sizeof lines[0]);
  page_end();
}

void print_deployment_page() {
  static const char *const lines[] = {
      "\n\n------ Deployment Mode commands ------\n",
      "any character to wake, then issue command:\n",
      "stop  -- stop sampling, exit deployment mode\n",
      "gdata -- get data since last command\n",
      "ts    -- take sample\n",
      "ss    -- start sample followed by 'sl' command to send last sample, times out after 8 "
      "sec\n",
      "gh    -- get header\n",
      "gm    -- get metadata\n",
      "ds    -- status: clock, schedule, card, battery, energy per sample, battery life\n",
      "Ctrl-X, then <Enter> during sampling pump cycle to end pump cycle\n",
  };
  print_lines(lines, sizeof lines / sizeof lines[0]);
  page_end();
}

void print_voltage_page() {
  static const char *const lines[] = {
      "\n\n------ pH and DuraFET Voltage Wisdom ------\n",
      "\nVtherm:        ~1.1V at 20C",
      "\nVrsi:          Internal reference based pH in seawater: ~-0.9V. In original buffer "
      "solution: ~-1.1V",
      "\nVrsi_B:        Electrical bias on ISFET voltage so that 7pH is 0V with respect to "
      "internal reference",
      "\n                  Then it changes by approximately 60 mV / pH.",
      "\n                  So nominal seawater (pH~=8), VrsiBiased ~= 60mV \xC2\xB1 30 mV",
      "\nVrsi std:      Standard deviation should be < 50uV, typical is ~20uV",
      "\nVrse:          External reference based pH in seawater (DeepSea Durafet only) ",
      "\nVk:            Between -1.5 and -0.7, expected to move around",
      "\nIk:            15uV/nA + amplifier offset (~800uV).  Should be < ~20nA",
      "\nIb:            1mV/nA.   Should be < 10nA",
  };
  print_lines(lines, sizeof lines / sizeof lines[0]);
  page_end();
}

uint32_t channel_ms(uint32_t trials, uint32_t sps) {
  return sps ? (uint32_t)((uint64_t)trials * 1000 / sps) : 0;
}

void print_sampling_page() {
  const systemData &d = sys_data;
  uprintf("\n\n--------- ADC24 Sample Times ---------------\n");
  uprintf("User variables for trials and sps:\n");
  struct Row {
    const char *name;
    uint32_t trials, sps;
  };
  const Row rows[] = {{"VTherm", d.Vtherm_trials, d.Vtherm_sps}, {"Vrsi", d.Vrsi_trials, d.Vrsi_sps},
                      {"Vrse", d.Vrse_trials, d.Vrse_sps},       {"Ik", d.Ik_trials, d.Ik_sps},
                      {"Vk", d.Vk_trials, d.Vk_sps},             {"Ib", d.Ib_trials, d.Ib_sps},
                      {"Vb", d.Vb_trials, d.Vb_sps},             {"Vbias", d.Vbias_trials, d.Vbias_sps}};
  for (const Row &r : rows)
    uprintf("%6s=%4u ms,   trials=%2u, sps=%u\n", r.name, (unsigned)channel_ms(r.trials, r.sps),
            (unsigned)r.trials, (unsigned)r.sps);
  uprintf("\n\n");
}

void print_help_header() {
  uprintf("\n\nVersion -- %s, %s \n ", FIRMWARE_VERSION, "Nonvol mem: i2c Ferroelectric RAM");
  if constexpr (kOmbrix)
    uprintf("\nTavlo Power Consumption per Sample with min data config = ~0.2 Joules per sample:  "
            "12v, 1.8sec, ~14.5mA => 12 * 14.5 * (1.8 / 3600) * 3.6 = ~0.3 Joules\n\n");
  else
    uprintf("\nTavlo Power Consumption per Sample with min data config = ~0.2 Joules per sample:  "
            "12v, 1.2sec, ~14.5mA => 12 * 14.5 * (1.2 / 3600) * 3.6 = ~0.2 Joules\n\n");
}

void print_help_choices() {
  uprintf("\n\n\nHelp Menu\n");
  uprintf("C -- Configuration help\n");
  uprintf("T -- Test help\n");
  uprintf("D -- Deployment help\n");
  uprintf("P -- pH and DuraFET Voltage Wisdom\n");
  uprintf("S -- Sampling info\n");
  if (sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1) {
    uprintf("\n");
    if constexpr (kOmbrix) {
      uprintf("Q/q -Diagnostic menus Enabled / disabled\n");
      uprintf("Z/z -dbg_printf statements Enabled / disabled\n");
    } else {
      uprintf("Q/q -Diagnostic menus Enabled/Disabled\n");
    }
  }
  uprintf("\n");
  uprintf("9 -- Exit to Main Menu\n");
  uprintf("\nEnter Selection [9]: ");
}

// Tavlo at menu level 1 lists Test, Sleep and Deploy as items 2 to 4.
bool tavlo_reordered() { return kTavlo && sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1; }

}  // namespace

void eeprom_firmware_qa_check() {
  if (memcmp(sys_data.qa.firmware_version, FIRMWARE_VERSION, 18) == 0) return;
  uprintf("\n\n\n\n\n");
  uprintf("******************** ERROR  QA version check failed!! ***********************\n*\n");
  uprintf("*  EEPROM layout must match firmware, please run QA procedure before use.\n*\n");
  uprintf("*  QA: %s, does not match firmware: %s\n*\n", sys_data.qa.firmware_version,
          FIRMWARE_VERSION);
  uprintf("*  Run QA procedure:  Test Menu -> Q -- QA and setup after board manufacture\n*\n*\n");
  uprintf("*****************************************************************************\n");
}

void print_main_menu() {
  eeprom_firmware_qa_check();
  uprintf("\n\n\nMain Menu -- %s -- Will sleep in %u seconds", FIRMWARE_VERSION,
          (unsigned)deployDelay);
  uprintf("\n1 -- Configure");
  if (tavlo_reordered()) {
    uprintf("\n2 -- Test");
    uprintf("\n3 -- Sleep");
    uprintf("\n4 -- Deploy");
  } else {
    uprintf("\n2 -- Deploy");
    uprintf("\n3 -- Test");
    uprintf("\n4 -- Sleep");
  }
  uprintf("\n5 -- Files");
  uprintf("\nH -- Help");
  uprintf("\nEnter Selection: ");
}

void print_help_menu() {
  print_help_header();
  for (;;) {
    print_help_choices();
    UARTFlushRx();
    wait_for_input(kHelpTimeout);
    switch (get_key()) {
      case 'C': case 'c': print_configuration_page(); break;
      case 'T': case 't': print_test_page(); break;
      case 'D': case 'd': print_deployment_page(); break;
      case 'P': case 'p': print_voltage_page(); break;
      case 'S': case 's': print_sampling_page(); break;
      case 'Q':
        uprintf("\nExperimental menus enabled, sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1\n");
        sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
        sys_data.diag = 1;
        break;
      case 'q':
        uprintf("\nExperimental menus disabled\n");
        sys_data.app_cfg[APPCFG_MENU_LEVEL] = 0;
        sys_data.diag = 0;
        break;
      case 'Z':
        uprintf("\nDebug Printf statements are enabled\n");
        sys_data.debug_flag = 1;
        dbg_flag = 1;
        break;
      case 'z':
        uprintf("\nDebug Printf statements are disabled\n");
        sys_data.debug_flag = 0;
        dbg_flag = 0;
        break;
      default:
        return;
    }
  }
}

void exec_main_menu() {
  for (;;) {
    print_main_menu();
    UARTFlushRx();
    // The time-out counts from the last key, and a key without Enter does
    // not hold the menu open beyond it.
    while (!input_within(deployDelay)) {
      if (sys_samp.state == DEPLOYED) {
        dbg_printf("\nEMM: DEPLOYED, calling deploy(DEPLOYED)\n");
        deploy(DEPLOYED);
      } else if (sys_samp.state == COMMAND) {
        dbg_printf("\nEMM: COMMAND, calling deploy(COMMAND)\n");
        deploy(COMMAND);
      } else {
        dbg_printf("\n***** SLEEP *****\n");
        sleep(IDLE, 0);
      }
      // The action came back (a polled-mode visit that ended in "stop"):
      // the menu's full time-out starts again rather than acting at once.
    }
    int key = get_key();
    if (tavlo_reordered()) {
      if (key == '2') key = '3';
      else if (key == '3') key = '4';
      else if (key == '4') key = '2';
    }
    switch (key) {
      case '1':
        configuration_menu();
        break;
      case '2':
        deploy(START);
        break;
      case '3':
        test_menu();
        break;
      case '4':
        sleep(IDLE, 0);
        break;
      case '5':
        viewFiles();
        break;
      case 'H':
      case 'h':
        print_help_menu();
        break;
      default:
        break;
    }
  }
}

int main() {
  init_TM4C123GH6PGE_144pin();
  dbg_flag = (int32_t)sys_data.debug_flag;
  dbg_printf("%s", BOARD_BANNER);
  int wake = sleep_handler();
  fram_report_fallback();
  for (;;) {
    switch (sys_samp.state) {
      case IDLE:
        dbg_printf("\nMAIN: state = IDLE\n");
        sys_samp.state = IDLE;
        exec_main_menu();
        break;
      case DEPLOYED:
        if (wake == WAKE_PIN) {
          dbg_printf("\nMAIN: DEPLOYED, calling exec_command\n");
          deploy_visit();
        } else if (wake == WAKE_RTC) {
          dbg_printf("\nMAIN: calling deploy(DEPLOYED)\n");
          deploy(DEPLOYED);
        } else {
          // A restart that did not end the deployment (sleep_handler has
          // logged it): carry on with the schedule.
          deploy_resume();
        }
        // Back here only after "stop".
        sys_samp.state = IDLE;
        break;
      case COMMAND:
        dbg_printf("\nMAIN: calling deploy(COMMAND)\n");
        if (wake == WAKE_OTHER) deploy_resume();
        else deploy(COMMAND);
        sys_samp.state = IDLE;
        break;
      default:
        uprintf("ERROR in sys_samp.state = %u", (unsigned)sys_samp.state);
        sys_samp.state = IDLE;
        exec_main_menu();
        break;
    }
  }
}
