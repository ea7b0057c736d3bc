pelox5_add_fuzzer(controller_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/controller_fuzz.cc
  LIBS pelox5_controller)
target_include_directories(controller_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tests)
