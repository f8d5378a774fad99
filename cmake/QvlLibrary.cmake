# One static library per source folder; the sources are every .cpp in it, so that adding a
# class is adding its two files. LINUX_ONLY names the .cpp files left out of a Windows build: the
# test helpers that drive Linux programs and POSIX processes (no Windows test includes them).
function(qvl_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;LINUX_ONLY" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(WIN32)
    foreach(_file ${ARG_LINUX_ONLY})
      list(REMOVE_ITEM _sources ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
    endforeach()
  endif()
  if(NOT _sources)
    # A folder whose classes are not written yet still has a target to link against.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${_sources} ${_headers})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(NOT WIN32)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# One test program per test folder, registered with CTest test by test. Every file builds on
# every host: a file whose cases run on one platform only says so itself and is skipped on the
# others (tests/support/PlatformSkip.h).
function(qvl_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  # A folder that needs a Qt application object brings its own main.cpp.
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests means starting the program under the emulator once per build, and
    # each test then starts it again: one entry per program keeps the Windows stage short.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
    return()
  endif()
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  include(GoogleTest)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
