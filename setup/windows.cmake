# The main window, the status window and the window services of module
# PVQInst, once per product: pvqwindows_A and pvqwindows_B. Sounds and the
# window code call each other (volume, music loop, window handles), so the
# two libraries link each other; CMake repeats them on the link line.
voz_add_profile_library(pvqwindows ${CMAKE_CURRENT_LIST_DIR}/Windows.cpp
  INCLUDE ${CMAKE_CURRENT_LIST_DIR}
  PROFILE_LINK sounds
  LINK comctl32 gdi32 user32)
foreach(p A B)
  target_link_libraries(sounds_${p} PUBLIC pvqwindows_${p})
endforeach()
list(APPEND VOZ_SETUP_LIBS_A pvqwindows_A)
list(APPEND VOZ_SETUP_LIBS_B pvqwindows_B)
