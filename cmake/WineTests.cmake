# Windows test executables run under wine: ctest starts each through the emulator below, in a
# prefix inside the build tree. The fixtures start wine's helpers once and stop them at the end.
set(FLASHUPGRADE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(FLASHUPGRADE_WINE_RUN "${CMAKE_SOURCE_DIR}/tests/wine/wine-run")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${FLASHUPGRADE_WINE_RUN};${FLASHUPGRADE_WINE_ARCH};${FLASHUPGRADE_WINE_PREFIX}")

function(flashupgrade_wine_fixtures)
  add_test(NAME wine.start COMMAND ${FLASHUPGRADE_WINE_RUN} ${FLASHUPGRADE_WINE_ARCH} ${FLASHUPGRADE_WINE_PREFIX} --start)
  add_test(NAME wine.stop COMMAND ${FLASHUPGRADE_WINE_RUN} ${FLASHUPGRADE_WINE_ARCH} ${FLASHUPGRADE_WINE_PREFIX} --stop)
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endfunction()

# Every test of this build needs the wine fixture.
function(flashupgrade_require_wine)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(t IN LISTS tests)
    set_tests_properties(${t} PROPERTIES FIXTURES_REQUIRED wine)
  endforeach()
endfunction()
