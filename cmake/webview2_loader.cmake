# Our own WebView2Loader.dll (Windows): finds the installed WebView2 runtime and hands the
# environment request to the runtime's client library. Its text handling is a small library
# of its own so the unit tests can run it on both lanes.
add_library(tav_loader STATIC ${PROJECT_SOURCE_DIR}/src/desktop/loader/runtime_search.cpp)
target_include_directories(tav_loader PUBLIC ${PROJECT_SOURCE_DIR}/src)

if(WIN32)
  add_library(webview2_loader SHARED ${PROJECT_SOURCE_DIR}/src/desktop/loader/webview2_loader_win32.cpp)
  target_link_libraries(webview2_loader PRIVATE tav_loader advapi32 ole32 version)
  # Microsoft's loader, when a build names it, takes our loader's place in the program folder.
  if(TAVRIN_WEBVIEW2_LOADER)
    set(loader_dir ${CMAKE_BINARY_DIR}/loader)
  else()
    set(loader_dir ${TAVRIN_APP_DIR})
  endif()
  set_target_properties(webview2_loader PROPERTIES OUTPUT_NAME WebView2Loader PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${loader_dir} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/loader)
  add_dependencies(tavrin webview2_loader)
endif()
