# Browser integration.

# Module IEToolbarUnit: the browser button belongs to Perusant only, so there
# is no Mailvane build of it.
voz_add_profile_library(ietoolbar IEToolbarUnit.cpp PROFILES A
  INCLUDE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/archive
  LINK advapi32)

# Module SearchBox: the search-box helper shared by both products.
voz_add_profile_library(searchbox SearchBox.cpp
  INCLUDE ${CMAKE_CURRENT_SOURCE_DIR}
  PROFILE_LINK regdetect
  LINK winntfuncts shortutl advapi32 user32)
