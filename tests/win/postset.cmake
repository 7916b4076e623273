# Module PostSet, once per product, on copies of the real payload folders.
# A run writes the product's uninstall entry, the search-box helper's logon
# start and (Perusant) the browser button under HKEY_LOCAL_MACHINE and puts
# them back afterwards; it holds the locks of everyone who reads them.
foreach(p A B)
  add_executable(postset_test_${p} postset_test.cpp)
  target_link_libraries(postset_test_${p} PRIVATE postset_${p} gtest ole32 uuid shell32)
  target_compile_definitions(postset_test_${p} PRIVATE VOZ_HELP_EXE="$<TARGET_FILE:product_help_${p}>")
  add_dependencies(postset_test_${p} product)
  voz_add_wine_test(postset_test_${p})
  set_tests_properties(postset_test_${p} PROPERTIES
                       FIXTURES_REQUIRED voz_product_payload
                       ENVIRONMENT VOZ_PRODUCT_PAYLOAD=${VOZ_PRODUCT_PAYLOAD}
                       RESOURCE_LOCK "voz_uninstall_entry;voz_shared_vendor_folder;voz_browser_registry")
endforeach()
