# Import audit: a program that imports one function its system lacks, or a DLL
# it does not have, never starts. Every program a setup is or carries (the two
# setups and everything the product target builds, which make-payload packs) is
# checked against tests/imports/win-imports.tsv and win-dlls.tsv for this
# build's floor: i686 Windows 98 and NT 4.0, x86-64 NT 5.2. Reads files only.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(voz_import_audit ${CMAKE_SOURCE_DIR}/tests/imports/import-audit.py)

set(voz_audited ${VOZ_SETUP_A} ${VOZ_SETUP_B})
get_target_property(voz_product_parts product MANUALLY_ADDED_DEPENDENCIES)
foreach(part IN LISTS voz_product_parts)
  get_target_property(part_type ${part} TYPE)
  if(part_type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    list(APPEND voz_audited ${part})
  endif()
endforeach()
set(voz_audited_files)
foreach(t IN LISTS voz_audited)
  list(APPEND voz_audited_files $<TARGET_FILE:${t}>)
endforeach()

# The audit itself: crafted images (ordinals, delay-load imports, a runtime
# DLL, a late subsystem) and a real program importing GetTickCount64 must fail it.
add_executable(import_audit_late ${CMAKE_SOURCE_DIR}/tests/imports/late_import.c)
target_link_options(import_audit_late PRIVATE
  -Wl,--major-subsystem-version,6,--minor-subsystem-version,0)
add_test(NAME import_audit_refuses
         COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/imports/import-audit-test.py
                 $<TARGET_FILE:import_audit_late>)

# A plain build builds whatever the audits read.
add_custom_target(import_audit_inputs ALL)
add_dependencies(import_audit_inputs ${voz_audited} import_audit_late)

add_test(NAME import_audit
         COMMAND Python3::Interpreter ${voz_import_audit} ${voz_audited_files})
