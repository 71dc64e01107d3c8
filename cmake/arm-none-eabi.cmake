# Cross toolchain for the TM4C123GH6PGE: Cortex-M4F, hard float, newlib-nano.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
find_program(CMAKE_OBJCOPY arm-none-eabi-objcopy)
find_program(CMAKE_OBJDUMP arm-none-eabi-objdump)
find_program(CMAKE_NM arm-none-eabi-nm)
find_program(CMAKE_SIZE arm-none-eabi-size)

# There is no way to run a test program, so probe with libraries only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(PHLOGGER_CPU_FLAGS "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16")
set(CMAKE_C_FLAGS_INIT "${PHLOGGER_CPU_FLAGS} -Os -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "${PHLOGGER_CPU_FLAGS} -Os -ffunction-sections -fdata-sections")
set(CMAKE_ASM_FLAGS_INIT "${PHLOGGER_CPU_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "${PHLOGGER_CPU_FLAGS} --specs=nano.specs -nostartfiles -Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
