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
    TAVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # *_oom_test: allocations fail on purpose; on Linux the program's own malloc calls too.
  if(name MATCHES "_oom_test$" AND NOT WIN32)
    target_link_options(${name} PRIVATE -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
  endif()
  add_test(NAME unit.${name} COMMAND ${name})
  set_tests_properties(unit.${name} PROPERTIES LABELS unit TIMEOUT 600)
endforeach()

# Windows: a stand-in of the WebView2 runtime's client library that acts out the runtime for
# the window's Wine suite, and one without the entry point. They stay in the build folder;
# the suite lays them out as installed runtimes and registers them in its own Wine prefix.
if(WIN32)
  add_library(webview2_standin SHARED ${PROJECT_SOURCE_DIR}/tests/webview2/standin.cpp
    ${PROJECT_SOURCE_DIR}/tests/webview2/standin.rc ${PROJECT_SOURCE_DIR}/src/desktop/webview2_win32.cpp)
  target_include_directories(webview2_standin PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(webview2_standin PRIVATE ole32 user32 uuid)
  set_target_properties(webview2_standin PROPERTIES OUTPUT_NAME EmbeddedBrowserWebView PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin)
  add_library(webview2_standin_noentry SHARED ${PROJECT_SOURCE_DIR}/tests/webview2/noentry.cpp)
  set_target_properties(webview2_standin_noentry PROPERTIES OUTPUT_NAME EmbeddedBrowserWebView PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin/noentry
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin/noentry)
endif()

# Windows: the shortcut suite's helper that makes and reads real shell links under Wine.
if(WIN32)
  add_executable(lnktool ${PROJECT_SOURCE_DIR}/tests/shortcuts/lnktool.cpp)
  target_link_libraries(lnktool PRIVATE ole32 shell32 uuid)
  set_target_properties(lnktool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()

# Integration suites drive the real program in its folder over HTTP and its command line.
if(WIN32)
  set(lane windows)
else()
  set(lane linux)
endif()
file(GLOB integration_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/integration/test_*.py)
foreach(src ${integration_tests})
  get_filename_component(name ${src} NAME_WE)
  # The window suites run on a display of their own (1366x768, no window manager).
  # Each lane wraps only its own window suite; the other one skips at once.
  set(runner)
  if((name STREQUAL "test_desktop_gtk" AND NOT WIN32) OR (name STREQUAL "test_desktop_win32" AND WIN32))
    set(runner xvfb-run -a -s "-screen 0 1366x768x24 -nolisten tcp -noreset")
  endif()
  add_test(NAME integration.${name}
    COMMAND ${runner} /usr/bin/python3 -m pytest -q -p no:cacheprovider ${src}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/integration)
  set_tests_properties(integration.${name} PROPERTIES LABELS integration TIMEOUT 1800
    ENVIRONMENT "TAVRIN_APP=${TAVRIN_APP_DIR};TAVRIN_LANE=${lane};TAVRIN_EXE=${TAVRIN_APP_DIR}/${TAVRIN_EXE_NAME}${CMAKE_EXECUTABLE_SUFFIX};TAVRIN_BUILD=${CMAKE_BINARY_DIR};TAVRIN_CLOUD=${CMAKE_BINARY_DIR}/tavrin-cloud")
  if(runner)
    # a browser engine (or Wine) with its own display: alone, so a loaded machine stays responsive
    set_tests_properties(integration.${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endforeach()

# The page's pure logic (the progress merge) under node's test runner, no browser needed.
file(GLOB web_unit_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/web/*.test.mjs)
if(web_unit_tests AND NOT WIN32 AND NOT TAVRIN_SANITIZE)
  add_test(NAME web.unit COMMAND node --test ${web_unit_tests}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/web)
  set_tests_properties(web.unit PROPERTIES LABELS unit TIMEOUT 300 ENVIRONMENT TAVRIN_MERGE_SEED=20261211)
endif()
# The compiler-advice table against the Windows-hosted GCC under Wine: set TAVRIN_WINDOWS_GCC_BIN
# to the folder holding gcc.exe and g++.exe (the toolchain the Windows program ships with).
set(TAVRIN_WINDOWS_GCC_BIN "" CACHE PATH "folder of the Windows-hosted gcc.exe/g++.exe for the advice table under Wine")
if(WIN32 AND TAVRIN_WINDOWS_GCC_BIN)
  add_test(NAME web.advice.windows COMMAND node --test ${PROJECT_SOURCE_DIR}/tests/web/advice.test.mjs
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/web)
  set_tests_properties(web.advice.windows PROPERTIES LABELS unit TIMEOUT 900
    ENVIRONMENT "TAVRIN_ADVICE_CC=wine ${TAVRIN_WINDOWS_GCC_BIN}/gcc.exe;TAVRIN_ADVICE_CXX=wine ${TAVRIN_WINDOWS_GCC_BIN}/g++.exe")
endif()

# The page in a real browser (Linux lane): each tests/e2e/*.test.mjs is a test of its own under
# node's test runner, so that the files share the machine's cores with the other suites. They
# are the longest, so they start first (a clean build has no measured times to order by).
file(GLOB e2e_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/*.test.mjs)
if(e2e_tests AND NOT WIN32 AND NOT TAVRIN_SANITIZE)
  foreach(src ${e2e_tests})
    get_filename_component(name ${src} NAME)
    string(REGEX REPLACE "\\.test\\.mjs$" "" name "${name}")
    add_test(NAME e2e.${name} COMMAND node --test ${src}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
    set_tests_properties(e2e.${name} PROPERTIES LABELS e2e TIMEOUT 1200 COST 100
      ENVIRONMENT "TAVRIN_APP=${TAVRIN_APP_DIR};TAVRIN_EXE=${TAVRIN_APP_DIR}/${TAVRIN_EXE_NAME};TAVRIN_E2E_SHOTS=${CMAKE_BINARY_DIR}/e2e-shots")
  endforeach()
endif()
