# Arbitrary bytes as a deployment's configuration file and as the preferences file.
pelox5_add_fuzzer(config_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/config_fuzz.cc LIBS pelox5_config)
pelox5_add_fuzzer(prefs_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/prefs_fuzz.cc LIBS pelox5_config)
