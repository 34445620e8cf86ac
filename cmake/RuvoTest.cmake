# ruvo_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>] [LABELS <labels...>])
# One QtTest executable per area; every test runs on Qt's offscreen platform.
function(ruvo_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ruvo_testsupport ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RUVO_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    LABELS "${T_LABELS}")
endfunction()

# ruvo_add_bench(<name> SOURCES <files...> LIBS <targets...>): benchmarks print
# their figures and are built with everything else, never run by CTest.
function(ruvo_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
endfunction()

# ruvo_add_test_folder(<area> LIBS <targets...> [EXCLUDE <regex...>]): every
# tst_*.cpp of the calling folder becomes one test executable; the folder's
# other .cpp files are its fixtures, built once into tests_<area>_support.
# Libraries that are not built on this platform are left out, and so are the
# files matching an EXCLUDE pattern.
function(ruvo_add_test_folder area)
  cmake_parse_arguments(F "" "" "LIBS;EXCLUDE" ${ARGN})
  set(_libs)
  foreach(_lib ${F_LIBS})
    if(TARGET ${_lib})
      list(APPEND _libs ${_lib})
    endif()
  endforeach()
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(_pattern ${F_EXCLUDE})
    list(FILTER _sources EXCLUDE REGEX "${_pattern}")
  endforeach()
  set(_fixtures ${_sources})
  list(FILTER _fixtures EXCLUDE REGEX "/tst_[^/]*\\.cpp$")
  set(_tests ${_sources})
  list(FILTER _tests INCLUDE REGEX "/tst_[^/]*\\.cpp$")
  if(_fixtures)
    add_library(tests_${area}_support STATIC ${_fixtures})
    target_include_directories(tests_${area}_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(tests_${area}_support PUBLIC ruvo_testsupport ${_libs} Qt6::Test)
    list(APPEND _libs tests_${area}_support)
  endif()
  foreach(_src ${_tests})
    get_filename_component(_name ${_src} NAME_WE)
    ruvo_add_test(${_name} SOURCES ${_src} LIBS ${_libs})
  endforeach()
endfunction()
