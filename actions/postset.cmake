# Module PostSet: the steps before and after the extraction (preserved user
# files, program group, uninstall entry, browser integration, settings file,
# help program, clean-up).
voz_add_profile_library(postset PostSet.cpp)
foreach(p A B)
  target_include_directories(postset_${p} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(postset_${p} PUBLIC regdetect_${p} searchbox_${p} shortcut winntfuncts vozextract
                        vozarchive shortutl advapi32)
endforeach()
target_link_libraries(postset_A PUBLIC ietoolbar_A)
set_property(GLOBAL APPEND PROPERTY VOZ_SETUP_LIBS_A postset_A)
set_property(GLOBAL APPEND PROPERTY VOZ_SETUP_LIBS_B postset_B)
