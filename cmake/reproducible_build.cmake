# Every output of the build is a function of the sources, the game folder and the version
# alone, so that anyone can rebuild a published setup program and compare it byte for byte
# (tests/reproducible/reproducible_build_test.sh builds it twice to show it).

# Time. The one stamp our tools write is the PE header's TimeDateStamp, and GNU ld takes it
# from SOURCE_DATE_EPOCH when that is in its environment. Every link runs with it set: to
# the value in the environment of the configure step, or else to the version's own time.
# Being on each link's command line, a changed value relinks everything.
string(STRIP "$ENV{SOURCE_DATE_EPOCH}" TORRENTINE_SOURCE_DATE_EPOCH)
if(TORRENTINE_SOURCE_DATE_EPOCH STREQUAL "")
  set(TORRENTINE_SOURCE_DATE_EPOCH "${TORRENTINE_VERSION_TIME}")
endif()
# The header holds 32 bits: a larger number would be cut silently.
if(NOT TORRENTINE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR
   TORRENTINE_SOURCE_DATE_EPOCH GREATER 4294967295)
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970 "
                      "from 0 to 4294967295, not \"${TORRENTINE_SOURCE_DATE_EPOCH}\"")
endif()
message(STATUS "Time stamp of the executables: ${TORRENTINE_SOURCE_DATE_EPOCH}")
foreach(lang C CXX)
  set(CMAKE_${lang}_LINKER_LAUNCHER
      "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${TORRENTINE_SOURCE_DATE_EPOCH}")
endforeach()

# Randomness. Without a seed GCC draws a random one for each object, which names its
# link-time-optimisation sections and some local symbols. The object's path relative to the
# build folder is the same in every build and differs between objects.
foreach(lang C CXX)
  string(REPLACE "<FLAGS>" "<FLAGS> -frandom-seed=<OBJECT>" CMAKE_${lang}_COMPILE_OBJECT
         "${CMAKE_${lang}_COMPILE_OBJECT}")
endforeach()

# Paths. The source and build folders are written as relative paths wherever the compiler
# would record them (__FILE__, debug information); the build folder's map comes last so
# that it wins when the build folder is inside the sources.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")
