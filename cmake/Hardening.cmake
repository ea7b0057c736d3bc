# Hardening flags for every target: stack protector, fortified libc calls,
# stack-clash and control-flow protection, format-string checks, read-only
# relocations with immediate binding, and position-independent executables.
#
# Where dpkg-buildflags exists the flags are Debian's own (hardening=+all), so
# the build follows the host's policy as it changes; their -g and -O levels are
# left out, since the build type chooses those. Protections that the host's
# dpkg does not yet name (stack clash and control flow before dpkg 1.22) and
# hosts without dpkg get the same flags, each only if the compiler or the
# linker accepts it, so a plain build works anywhere.
#
# _FORTIFY_SOURCE needs optimisation and conflicts with AddressSanitizer's own
# checks: it is applied only to optimised configurations of unsanitised builds.

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

option(PELOX5_HARDENING "Build with the distribution's hardening flags" ON)
set(PELOX5_FORTIFIED 0)

# pelox5_dpkg_buildflags(VAR NAME): VAR is the list dpkg-buildflags gives for
# NAME (CPPFLAGS, CXXFLAGS, LDFLAGS), empty without dpkg-buildflags.
function(pelox5_dpkg_buildflags var name)
  set(flags "")
  if(PELOX5_DPKG_BUILDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${PELOX5_DPKG_BUILDFLAGS} --get ${name}
      OUTPUT_VARIABLE output
      OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE result
      ERROR_QUIET)
    if(result EQUAL 0)
      separate_arguments(flags UNIX_COMMAND "${output}")
    endif()
  endif()
  set(${var} "${flags}" PARENT_SCOPE)
endfunction()

# pelox5_add_supported(LIST KIND FLAG...): appends to LIST each FLAG that the
# compiler (KIND COMPILE) or the linker (KIND LINK) accepts and LIST lacks.
function(pelox5_add_supported list kind)
  set(flags ${${list}})
  # -Werror=format-security is ignored, with a warning, without -Wformat.
  set(CMAKE_REQUIRED_FLAGS -Wformat)
  foreach(flag ${ARGN})
    if(flag IN_LIST flags)
      continue()
    endif()
    string(MAKE_C_IDENTIFIER "PELOX5_HAS${flag}" known)
    if(kind STREQUAL "LINK")
      check_linker_flag(CXX "${flag}" ${known})
    else()
      check_cxx_compiler_flag("${flag}" ${known})
    endif()
    if(${known})
      list(APPEND flags ${flag})
    endif()
  endforeach()
  set(${list} "${flags}" PARENT_SCOPE)
endfunction()

if(PELOX5_HARDENING)
  find_program(PELOX5_DPKG_BUILDFLAGS dpkg-buildflags)
  pelox5_dpkg_buildflags(cppflags CPPFLAGS)
  pelox5_dpkg_buildflags(cxxflags CXXFLAGS)
  pelox5_dpkg_buildflags(ldflags LDFLAGS)

  # Debug information, optimisation and path mapping belong to the build type
  # and the build folder, not to the hardening.
  list(FILTER cxxflags EXCLUDE REGEX "^-(g.*|O.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")

  # Fortification at dpkg's level, or at level 2; the other preprocessor flags
  # (-Wdate-time) apply to every build.
  set(fortify ${cppflags})
  list(FILTER fortify INCLUDE REGEX "^-D_FORTIFY_SOURCE=")
  list(FILTER cppflags EXCLUDE REGEX "^-D_FORTIFY_SOURCE=")
  if(NOT fortify)
    set(fortify -D_FORTIFY_SOURCE=2)
  endif()
  list(GET fortify 0 fortify)

  pelox5_add_supported(cxxflags COMPILE -fstack-protector-strong -fstack-clash-protection
                       -fcf-protection -Wformat -Werror=format-security)
  pelox5_add_supported(ldflags LINK -Wl,-z,relro -Wl,-z,now)

  add_compile_options(${cppflags} ${cxxflags})
  if(NOT (PELOX5_SANITIZE OR PELOX5_FUZZ))
    set(PELOX5_FORTIFIED "$<NOT:$<CONFIG:Debug>>")
    # -U first: some compilers predefine _FORTIFY_SOURCE at a level of their own.
    add_compile_options($<${PELOX5_FORTIFIED}:-U_FORTIFY_SOURCE> $<${PELOX5_FORTIFIED}:${fortify}>)
  endif()
  add_link_options(${ldflags})

  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()

# PELOX5_HARDENED, a generator expression, tells the package checks what to
# expect of the programs: "all" protections, all but fortification
# ("nofortify") or "none".
if(NOT PELOX5_HARDENING)
  set(PELOX5_HARDENED none)
else()
  set(PELOX5_HARDENED "$<IF:${PELOX5_FORTIFIED},all,nofortify>")
endif()
