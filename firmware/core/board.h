// The board variant this image is built for, and the firmware identity.
#pragma once

constexpr int BOARD_Ombrix = 1;
constexpr int BOARD_Tavlo = 2;

#ifndef PHLOGGER_BOARD
#error "PHLOGGER_BOARD selects the board variant (1 Ombrix, 2 Tavlo)"
#endif
constexpr int BOARD = PHLOGGER_BOARD;
static_assert(BOARD == BOARD_Ombrix || BOARD == BOARD_Tavlo);

constexpr bool kOmbrix = BOARD == BOARD_Ombrix;
constexpr bool kTavlo = BOARD == BOARD_Tavlo;

constexpr const char *FIRMWARE_VERSION = kOmbrix ? "v3.8.6 Ombrix revB" : "v3.8.5 Tavlo revC";
constexpr const char *BOARD_BANNER =
    kOmbrix ? "\n***** BOARD_Ombrix = 1 *****\n" : "\n***** BOARD_Tavlo = 2 *****\n";

// 16667 three-cycle loops make one millisecond at 50 MHz.
constexpr unsigned kDelayLoopsPerMs = 16667;
