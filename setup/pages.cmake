# The setup's pages of module PVQInst, once per product: the licence
# agreement, the main page (destination folder) and the finish page with the
# query-folder association. pvqpages_A and pvqpages_B.
voz_add_profile_library(pvqpages
  ${CMAKE_CURRENT_LIST_DIR}/LicencePage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainPage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FinishPage.cpp
  INCLUDE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/seldir
  PROFILE_LINK pvqwindows seldir regdetect sounds
  LINK shortcut winntfuncts shortutl advapi32 gdi32 user32)
list(APPEND VOZ_SETUP_LIBS_A pvqpages_A)
list(APPEND VOZ_SETUP_LIBS_B pvqpages_B)
