# Module SelDir: the path helpers, and the folder browser run for real with
# the setup's own dialog and icons, driven by a timer inside the test. It
# makes and removes its own folder tree in the temp folder.
add_executable(seldir_test seldir_test.cpp ${VOZ_SETUP_RC_A})
target_include_directories(seldir_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(seldir_test PRIVATE seldir_A gtest_main)
voz_add_wine_test(seldir_test)
