# Third-party code: Boost.program_options from Debian's boost1.81 sources and
# GoogleTest from Debian's googletest sources, both built with our compiler.

set(TARNWICK_BOOST_SOURCE_DIR "" CACHE PATH "Boost 1.81 source tree (scripts/bootstrap.sh prints it)")
if(NOT EXISTS "${TARNWICK_BOOST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "Set TARNWICK_BOOST_SOURCE_DIR to a Boost 1.81 source tree; scripts/bootstrap.sh fetches one.")
endif()
set(BOOST_INCLUDE_LIBRARIES program_options CACHE STRING "" FORCE)
set(BUILD_SHARED_LIBS OFF)
add_subdirectory(${TARNWICK_BOOST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/boost EXCLUDE_FROM_ALL SYSTEM)

if(TARNWICK_BUILD_TESTS)
  set(TARNWICK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARNWICK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
