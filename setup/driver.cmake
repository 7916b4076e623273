# The driver (PVQInst.cpp, compiled into each program) calls the start-up and
# shutdown steps of these modules and the payload extraction.
list(APPEND VOZ_SETUP_LIBS_A regdetect_A winntfuncts shortcut vozarchive)
list(APPEND VOZ_SETUP_LIBS_B regdetect_B winntfuncts shortcut vozarchive)
