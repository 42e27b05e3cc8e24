# GoogleTest from Debian's sources, built with the same compiler for both lanes.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# tests/unit/<module>_<what>_test.cpp is one test program linked with the module.
file(GLOB unit_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*_test.cpp)
foreach(src ${unit_tests})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX MATCH "^[a-z]+" module ${name})
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE tav_${module} GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TAVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TAVRIN_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared")
  add_test(NAME unit.${name} COMMAND ${name})
  set_tests_properties(unit.${name} PROPERTIES LABELS unit TIMEOUT 600)
endforeach()

# Integration suites drive the real program in its folder over HTTP and its command line.
if(WIN32)
  set(lane windows)
else()
  set(lane linux)
endif()
file(GLOB integration_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/integration/test_*.py)
foreach(src ${integration_tests})
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME integration.${name}
    COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider ${src}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/integration)
  set_tests_properties(integration.${name} PROPERTIES LABELS integration TIMEOUT 1800
    ENVIRONMENT "TAVRIN_APP=${TAVRIN_APP_DIR};TAVRIN_LANE=${lane};TAVRIN_EXE=${TAVRIN_APP_DIR}/${TAVRIN_EXE_NAME}${CMAKE_EXECUTABLE_SUFFIX};TAVRIN_BUILD=${CMAKE_BINARY_DIR};TAVRIN_CLOUD=${CMAKE_BINARY_DIR}/tavrin-cloud")
endforeach()

# The page's pure logic (the progress merge) under node's test runner, no browser needed.
file(GLOB web_unit_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/web/*.test.mjs)
if(web_unit_tests AND NOT WIN32 AND NOT TAVRIN_SANITIZE)
  add_test(NAME web.unit COMMAND node --test ${web_unit_tests}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/web)
  set_tests_properties(web.unit PROPERTIES LABELS unit TIMEOUT 300)
endif()

# The page in a real browser (Linux lane): tests/e2e/*.test.mjs with node's test runner.
file(GLOB e2e_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/*.test.mjs)
if(e2e_tests AND NOT WIN32 AND NOT TAVRIN_SANITIZE)
  add_test(NAME e2e.page COMMAND node --test ${e2e_tests}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e.page PROPERTIES LABELS e2e TIMEOUT 1200 RUN_SERIAL TRUE
    ENVIRONMENT "TAVRIN_APP=${TAVRIN_APP_DIR};TAVRIN_EXE=${TAVRIN_APP_DIR}/${TAVRIN_EXE_NAME};TAVRIN_E2E_SHOTS=${CMAKE_BINARY_DIR}/e2e-shots")
endif()
