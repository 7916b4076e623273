# Browser integration.

# Module IEToolbarUnit: the browser button belongs to Perusant only, so there
# is no Mailvane build of it.
add_library(ietoolbar_A STATIC IEToolbarUnit.cpp)
target_compile_definitions(ietoolbar_A PUBLIC VOZ_PROFILE_A=1)
target_include_directories(ietoolbar_A PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/setup/profile)
target_link_libraries(ietoolbar_A PUBLIC advapi32)

# Module SearchBox: the search-box helper shared by both products.
voz_add_profile_library(searchbox SearchBox.cpp)
foreach(p A B)
  target_include_directories(searchbox_${p} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(searchbox_${p} PUBLIC regdetect_${p} winntfuncts shortutl advapi32 user32)
endforeach()
