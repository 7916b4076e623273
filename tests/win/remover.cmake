# The product's uninstaller, once per product, run on an installation made
# by the test. It rewrites the machine's uninstall entries, the query-folder
# association, the browser button, the logon start and the helper in the
# shared vendor folder, the Start-menu group and the desktop: every test
# that touches them takes the same locks.
foreach(p A B)
  add_executable(remover_test_${p} remover_test.cpp)
  target_compile_definitions(remover_test_${p} PRIVATE VOZ_PROFILE_${p}=1
    VOZ_REMOVER_EXE="$<TARGET_FILE:product_remover_${p}>" VOZ_SEEKBOX_EXE="$<TARGET_FILE:product_seekbox>")
  target_include_directories(remover_test_${p} PRIVATE ${CMAKE_SOURCE_DIR}/setup/profile)
  target_link_libraries(remover_test_${p} PRIVATE gtest_main ole32 uuid shell32)
  add_dependencies(remover_test_${p} product_remover_${p} product_seekbox)
  voz_add_wine_test(remover_test_${p})
  set_tests_properties(remover_test_${p} PROPERTIES RESOURCE_LOCK
    "voz_uninstall_entry;voz_shared_vendor_folder;voz_browser_registry;voz_query_folder_type;voz_start_menu")
endforeach()
