# The main window, the status window and the window services of module
# PVQInst, once per product: pvqwindows_A and pvqwindows_B. The window code
# calls Sounds (volume, music loop), which is given the windows it needs and
# links nothing of this library.
voz_add_profile_library(pvqwindows ${CMAKE_CURRENT_LIST_DIR}/PVQWindows.cpp
  INCLUDE ${CMAKE_CURRENT_LIST_DIR}
  PROFILE_LINK sounds
  LINK comctl32 gdi32 user32)
list(APPEND VOZ_SETUP_LIBS_A pvqwindows_A)
list(APPEND VOZ_SETUP_LIBS_B pvqwindows_B)
