// The main loop and the main and help menus.
#pragma once
#include <cstdint>

extern uint32_t deployDelay;
extern int32_t microSD_flg;

void exec_main_menu();
void print_main_menu();
void print_help_menu();
void eeprom_firmware_qa_check();
