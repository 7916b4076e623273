# The products' facts for the build files, read from the profile header that
# the programs compile (setup/profile/ProductFacts.h), so that each name is
# written once.
#   voz_product_fact(OUT LETTER FACT)
# sets OUT to the text of "#define VOZ_<LETTER>_<FACT> "text"", for example
#   voz_product_fact(setup A SETUP_NAME)   ->   PerusSetup
# and stops the configuration when the header has no such line.
set(VOZ_PRODUCT_FACTS_HEADER ${CMAKE_CURRENT_LIST_DIR}/../setup/profile/ProductFacts.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VOZ_PRODUCT_FACTS_HEADER})

function(voz_product_fact out letter fact)
  set(pattern "^#define VOZ_${letter}_${fact} \"([^\"]*)\"$")
  file(STRINGS ${VOZ_PRODUCT_FACTS_HEADER} line REGEX "${pattern}")
  list(LENGTH line n)
  if(NOT n EQUAL 1)
    message(FATAL_ERROR "ProductFacts.h: expected one line #define VOZ_${letter}_${fact} \"...\", found ${n}")
  endif()
  string(REGEX REPLACE "${pattern}" "\\1" value "${line}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
