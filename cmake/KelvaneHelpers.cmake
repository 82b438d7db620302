# GoogleTest is built from the Debian source package so that it gets the same compiler, flags and
# sanitizers as the tests (and so that the mingw cross build has one at all).
macro(kelvane_find_gtest)
  if(NOT TARGET GTest::gtest_main)
    set(KELVANE_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
    if(EXISTS "${KELVANE_GTEST_SOURCE}/CMakeLists.txt")
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
      add_subdirectory("${KELVANE_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
      if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest_main ALIAS gtest_main)
      endif()
    else()
      find_package(GTest REQUIRED)
    endif()
  endif()
endmacro()

# kelvane_add_test(NAME source... [LIBS lib...]): one GoogleTest binary, run by CTest as one test.
# Cross builds run it through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(kelvane_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kelvane_testsupport GTest::gtest_main kelvane_warnings)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
endfunction()
