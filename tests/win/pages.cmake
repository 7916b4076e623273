# The setup's pages run for real and driven by messages, once per product
# (texts, names, hot key and association differ). The tests write and remove
# the product's query-folder association under HKEY_CLASSES_ROOT, hence the
# lock; the desktop and Programs folders are pointed into the test's own
# temp folder, and the music start only shows a stand-in status window.
foreach(p A B)
  add_executable(pages_test_${p} pages_test.cpp ${VOZ_SETUP_RC_${p}})
  target_include_directories(pages_test_${p} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(pages_test_${p} PRIVATE pvqpages_${p} gtest_main ole32 uuid shell32)
  voz_add_wine_test(pages_test_${p})
  set_tests_properties(pages_test_${p} PROPERTIES RESOURCE_LOCK voz_query_folder_type)
endforeach()
