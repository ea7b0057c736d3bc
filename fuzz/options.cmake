pelox5_add_fuzzer(options_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/options_fuzz.cc
  LIBS pelox5_options)
