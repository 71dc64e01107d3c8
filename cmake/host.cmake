# Host build: the simulated board, the unit tests and the scenario tests.

option(PHLOGGER_SANITIZE "Build host code with AddressSanitizer and UBSan" ON)
if(PHLOGGER_SANITIZE)
  set(PHLOGGER_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined)
  add_compile_options(${PHLOGGER_SAN_FLAGS})
  add_link_options(${PHLOGGER_SAN_FLAGS})
endif()

enable_testing()
find_package(GTest)

# On the host the firmware's main becomes an ordinary function that the
# simulated reset calls once per wake.
set_source_files_properties(${CMAKE_SOURCE_DIR}/firmware/core/main.cpp
    PROPERTIES COMPILE_DEFINITIONS "main=firmware_main")

file(GLOB_RECURSE PHLOGGER_SIM_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/platform/sim/*.cpp)

# The FAT module is plain portable code: built once.
add_library(fat STATIC ${PHLOGGER_FAT_SOURCES})
target_include_directories(fat PUBLIC ${CMAKE_SOURCE_DIR}/lib/fat)
target_compile_options(fat PRIVATE ${PHLOGGER_COMMON_FLAGS})

# Heap-free text formatting and number parsing, the same on both builds.
set(PHLOGGER_FMT_DIR ${CMAKE_SOURCE_DIR}/lib/fmt)
if(PHLOGGER_FMT_OVERRIDE)  # a stand-in directory, for bring-up only
  file(GLOB PHLOGGER_FMT_SOURCES ${PHLOGGER_FMT_OVERRIDE}/*.cpp)
  set(PHLOGGER_FMT_DIR ${PHLOGGER_FMT_OVERRIDE})
endif()
add_library(fmt STATIC ${PHLOGGER_FMT_SOURCES})
target_include_directories(fmt PUBLIC ${PHLOGGER_FMT_DIR})
target_compile_options(fmt PRIVATE ${PHLOGGER_COMMON_FLAGS})

# The simulated chip and its devices.
add_library(platform_sim OBJECT ${PHLOGGER_SIM_SOURCES})
target_include_directories(platform_sim PUBLIC
    ${CMAKE_SOURCE_DIR}/platform/include ${CMAKE_SOURCE_DIR}/platform/sim
    ${CMAKE_SOURCE_DIR}/lib/fat)
target_compile_options(platform_sim PRIVATE ${PHLOGGER_COMMON_FLAGS})

foreach(variant IN LISTS PHLOGGER_VARIANTS)
  add_library(fw_${variant} OBJECT ${PHLOGGER_FIRMWARE_SOURCES})
  target_include_directories(fw_${variant} PUBLIC ${PHLOGGER_FIRMWARE_INCLUDES})
  target_link_libraries(fw_${variant} PUBLIC fmt)
  target_compile_definitions(fw_${variant} PUBLIC
      PHLOGGER_BOARD=${PHLOGGER_VARIANT_${variant}})
  target_compile_options(fw_${variant} PRIVATE ${PHLOGGER_COMMON_FLAGS}
      ${PHLOGGER_FIRMWARE_CXX_FLAGS})

  add_executable(phlogger-sim-${variant} ${CMAKE_SOURCE_DIR}/tools/sim_main.cpp
      ${CMAKE_SOURCE_DIR}/tools/provision.cpp)
  target_compile_definitions(phlogger-sim-${variant} PRIVATE
      PHLOGGER_SIM_VARIANT="${variant}")
  target_compile_options(phlogger-sim-${variant} PRIVATE ${PHLOGGER_COMMON_FLAGS})
  target_link_libraries(phlogger-sim-${variant} PRIVATE
      fw_${variant} platform_sim fat fmt util)
endforeach()

# phlogger-sim is the Ombrix build; --board tavlo hands over to its sibling.
add_custom_target(phlogger-sim ALL
    COMMAND ${CMAKE_COMMAND} -E create_symlink phlogger-sim-ombrix phlogger-sim
    DEPENDS phlogger-sim-ombrix phlogger-sim-tavlo
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})

# make sim builds the simulator alone, before the test packages are there.
if(GTest_FOUND)
  add_subdirectory(tests)
else()
  message(STATUS "GoogleTest not found: the simulator without its tests "
                 "(scripts/bootstrap.sh test installs what the tests need)")
endif()
