# Budget check of a firmware image, run after every link:
#   cmake -DELF=... -DNM=... -DSIZE=... -DFLASH_BYTES=... -DSRAM_BYTES=...
#         -DSTACK_BYTES=... -P check_image.cmake
# Prints flash, static RAM and stack; fails, deleting the image, when it does
# not fit or when anything of the heap got linked in.

foreach(var ELF NM SIZE FLASH_BYTES SRAM_BYTES STACK_BYTES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_image: ${var} not given")
  endif()
endforeach()

get_filename_component(name ${ELF} NAME)
set(problems "")

# Section sizes, System V format: "name size address" a line.
execute_process(COMMAND ${SIZE} -A ${ELF} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_image: ${SIZE} failed on ${ELF}")
endif()
string(REPLACE "\n" ";" lines "${sections}")
set(flash 0)
set(data 0)
set(bss 0)
set(stack 0)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^(\\.[A-Za-z0-9_.]+)[ \t]+([0-9]+)[ \t]+([0-9]+)")
    continue()
  endif()
  set(sec ${CMAKE_MATCH_1})
  set(bytes ${CMAKE_MATCH_2})
  set(addr ${CMAKE_MATCH_3})
  if(sec STREQUAL ".stack")
    math(EXPR stack "${stack} + ${bytes}")
  elseif(sec STREQUAL ".data")
    math(EXPR data "${data} + ${bytes}")
  elseif(sec STREQUAL ".bss")
    math(EXPR bss "${bss} + ${bytes}")
  elseif(addr LESS 536870912)  # below 0x20000000: flash
    if(NOT sec MATCHES "^\\.(comment|debug|ARM\\.attributes|stab)")
      math(EXPR flash "${flash} + ${bytes}")
    endif()
  endif()
endforeach()
math(EXPR flash "${flash} + ${data}")  # .data's initial values are in flash too
math(EXPR ram "${data} + ${bss}")
math(EXPR ram_total "${ram} + ${stack}")

math(EXPR flash_pct "${flash} * 100 / ${FLASH_BYTES}")
math(EXPR ram_pct "${ram_total} * 100 / ${SRAM_BYTES}")
message(STATUS "${name}: flash ${flash} of ${FLASH_BYTES} bytes (${flash_pct}%)")
message(STATUS "${name}: static RAM ${ram} bytes (data ${data}, bss ${bss}), "
               "stack ${stack} reserved, ${ram_total} of ${SRAM_BYTES} (${ram_pct}%)")

if(flash GREATER FLASH_BYTES)
  list(APPEND problems "flash ${flash} > ${FLASH_BYTES}")
endif()
if(NOT stack EQUAL STACK_BYTES)
  list(APPEND problems "stack reserve ${stack}, expected ${STACK_BYTES}")
endif()
if(ram_total GREATER SRAM_BYTES)
  list(APPEND problems "static RAM + stack ${ram_total} > ${SRAM_BYTES}")
endif()

# No heap: any allocator or sbrk in the symbol table is a fault.
execute_process(COMMAND ${NM} -g --defined-only ${ELF} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_image: ${NM} failed on ${ELF}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(forbidden "")
foreach(line IN LISTS lines)
  if(line MATCHES "[ \t]([A-Za-z_][A-Za-z0-9_]*)$")
    set(sym ${CMAKE_MATCH_1})
    if(sym MATCHES "^(malloc|free|calloc|realloc|_malloc_r|_free_r|_calloc_r|_realloc_r|_sbrk|_sbrk_r|_Zn[wa][jm].*)$")
      list(APPEND forbidden ${sym})
    endif()
  endif()
endforeach()
if(forbidden)
  list(JOIN forbidden " " forbidden_text)
  list(APPEND problems "heap linked in: ${forbidden_text}")
endif()

if(problems)
  file(REMOVE ${ELF})
  list(JOIN problems "; " text)
  message(FATAL_ERROR "${name} does not fit the TM4C123GH6PGE: ${text}")
endif()
