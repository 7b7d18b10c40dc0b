# The Windows sub-builds of a native build, declared before any folder so that every folder sees the same
# facts: UPDATER_ROUTE (i686, x86_64 or none) and its reason, UPDATER_STUB_DIR (the sub-build of the
# updater that ships, always i686) and UPDATER_WINDOWS_DIR (the sub-build whose programs run under Wine).
# UPDATER_STUB_DIR is set even without the sub-build, so that paths into it need no condition.
set(UPDATER_STUB_DIR ${CMAKE_BINARY_DIR}/windows)
if(NOT WIN32 AND UPDATER_WINDOWS_BUILD)
  # The Wine route, decided once per configuration: the architecture of the Windows test programs.
  # UPDATER_WINE_ROUTE (this cache entry, or the environment variable when the entry is empty) forces it;
  # the cache keeps a forced route when the build configures itself again. scripts/test.sh and
  # scripts/demo.sh hand the environment variable on at every configuration.
  set(UPDATER_WINE_ROUTE "" CACHE STRING "Wine route: i686, x86_64 or none (empty: decided by scripts/wine-route.sh)")
  if(UPDATER_WINE_ROUTE)
    set(forced_route ${UPDATER_WINE_ROUTE})
  else()
    set(forced_route "$ENV{UPDATER_WINE_ROUTE}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env UPDATER_WINE_ROUTE=${forced_route}
                          ${CMAKE_SOURCE_DIR}/scripts/wine-route.sh ${CMAKE_BINARY_DIR}
                  OUTPUT_VARIABLE wine_route_line OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE wine_route_status)
  if(NOT wine_route_status EQUAL 0)
    message(FATAL_ERROR "scripts/wine-route.sh could not decide the Wine route")
  endif()
  string(REGEX MATCH "^([^ ]*) (.*)$" wine_route_line "${wine_route_line}")
  set(UPDATER_ROUTE ${CMAKE_MATCH_1})
  set(UPDATER_ROUTE_REASON ${CMAKE_MATCH_2})
  file(WRITE ${CMAKE_BINARY_DIR}/wine-route.txt "${wine_route_line}\n")
  message(STATUS "Wine route: ${UPDATER_ROUTE} (${UPDATER_ROUTE_REASON})")

  include(ExternalProject)
  # updater_windows_subbuild(NAME BINARY_DIR TOOLCHAIN_FILE BUILD_TESTING [ExternalProject options...]): this
  # source tree built again for Windows with a toolchain file of cmake/, optimised as the program ships.
  function(updater_windows_subbuild name directory toolchain testing)
    ExternalProject_Add(${name}
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${directory}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
                 -DCMAKE_BUILD_TYPE=Release
                 -DBUILD_TESTING=${testing}
                 -DUPDATER_ARCHIVE=${UPDATER_ARCHIVE}
      ${ARGN}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      USES_TERMINAL_BUILD ON)
  endfunction()
  # The updater that ships is the i686 one, built on every host (cross-compiling executes nothing). Its
  # sub-build also makes the test programs where the route is i686 (or none: they are still compiled).
  if(UPDATER_ROUTE STREQUAL "x86_64")
    set(i686_testing OFF)
    set(i686_build BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target update)
  else()
    set(i686_testing ${BUILD_TESTING})
    set(i686_build)
  endif()
  updater_windows_subbuild(windows ${UPDATER_STUB_DIR} mingw-i686.toolchain.cmake ${i686_testing} ${i686_build})

  # UPDATER_WINDOWS_DIR: the sub-build whose programs run under Wine.
  if(UPDATER_ROUTE STREQUAL "x86_64")
    set(UPDATER_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows-x86_64)
    updater_windows_subbuild(windows_x86_64 ${UPDATER_WINDOWS_DIR} mingw-x86_64.toolchain.cmake ${BUILD_TESTING})
  else()
    set(UPDATER_WINDOWS_DIR ${UPDATER_STUB_DIR})
  endif()
endif()
