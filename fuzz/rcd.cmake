pelox5_add_fuzzer(rcd_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/rcd_fuzz.cc
  LIBS pelox5_recovery)
