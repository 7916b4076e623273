# Browser integration: the Perusant toolbar button (browser_test_A only) and
# the search-box helper (both products). The tests write the browser keys
# under HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_USERS, the logon Run
# value, and run the helper against the machine's shared vendor folder; each
# puts back what it changed and holds the locks of everyone who touches them.
#
# Helper stand-ins with chosen file versions, one program per version.
foreach(v 4_9 5_1 5_2 5_3 6_0)
  string(REPLACE "_" ";" parts ${v})
  list(GET parts 0 major)
  list(GET parts 1 minor)
  add_executable(browser_fakehelper_${v} WIN32 browser_fakehelper.cpp browser_fakehelper.rc)
  target_compile_definitions(browser_fakehelper_${v} PRIVATE FAKE_MAJOR=${major} FAKE_MINOR=${minor})
endforeach()

foreach(p A B)
  add_executable(browser_test_${p} browser_test.cpp)
  target_link_libraries(browser_test_${p} PRIVATE searchbox_${p} gtest)
  if(p STREQUAL "A")
    target_link_libraries(browser_test_${p} PRIVATE ietoolbar_A)
  endif()
  target_compile_definitions(browser_test_${p} PRIVATE
    VOZ_SEEKBOX_EXE="$<TARGET_FILE:product_seekbox>"
    VOZ_FAKE_HELPER_DIR="$<TARGET_FILE_DIR:browser_fakehelper_5_2>")
  add_dependencies(browser_test_${p} product_seekbox browser_fakehelper_4_9 browser_fakehelper_5_1
                   browser_fakehelper_5_2 browser_fakehelper_5_3 browser_fakehelper_6_0)
  voz_add_wine_test(browser_test_${p})
  set_tests_properties(browser_test_${p} PROPERTIES
                       RESOURCE_LOCK "voz_shared_vendor_folder;voz_browser_registry")
endforeach()
