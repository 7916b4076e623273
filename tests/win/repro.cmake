# Reproducible output: a second build of the setups in another folder gives
# the same bytes (stubs and their debug files), and the vozpack built there
# packs the same setup file from a copy of the same payload in another place.
# The second tree lies under this build folder and builds only what it
# compares, with the compiler cache off so that no cached object stands in
# for a compilation.
if(TARGET vozpack)
  add_test(NAME repro_test
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/repro.sh
                   ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/repro-tree ${CMAKE_TOOLCHAIN_FILE}
                   ${CMAKE_BUILD_TYPE} ${VOZ_WINE_RUN}
                   ${CMAKE_BINARY_DIR} $<TARGET_FILE:${VOZ_SETUP_A}> $<TARGET_FILE:${VOZ_SETUP_B}>
                   $<TARGET_FILE:vozpack>)
  voz_test_timeout(repro_test 900)
  # Builds with both cores of its own; it need not wait on the Wine tests,
  # but two such builds at once would only slow each other.
  set_tests_properties(repro_test PROPERTIES RESOURCE_LOCK voz_repro_tree)
endif()
