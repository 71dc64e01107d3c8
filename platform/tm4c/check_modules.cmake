# After a link: each object module is a file beside the image, and the
# linker took it as an input of the image (its map names it).
#   cmake -DMAP=... -DDIR=... -DMODULES="a;b" -P check_modules.cmake
file(READ ${MAP} map)
foreach(module IN LISTS MODULES)
  if(NOT EXISTS ${DIR}/${module}.o)
    message(FATAL_ERROR "object module ${module}.o is missing from ${DIR}")
  endif()
  string(REGEX MATCH "\nLOAD ([^\n]*/)?${module}\\.o\n" linked "${map}")
  if(NOT linked)
    message(FATAL_ERROR "object module ${module}.o was not linked into the image")
  endif()
endforeach()
message(STATUS "object modules linked: ${MODULES}")
