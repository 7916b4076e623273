# Module PostSet: the steps before and after the extraction (preserved user
# files, program group, uninstall entry, browser integration, settings file,
# help program, clean-up).
voz_add_profile_library(postset PostSet.cpp SETUP_PART
  INCLUDE ${CMAKE_CURRENT_SOURCE_DIR}
  PROFILE_LINK regdetect searchbox
  LINK shortcut winntfuncts vozextract vozarchive shortutl advapi32)
target_link_libraries(postset_A PUBLIC ietoolbar_A)
