# tests/fuzz/<name>_fuzz.cpp: libFuzzer targets, built with clang.
file(GLOB fuzzers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(src ${fuzzers})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX MATCH "^[a-z]+" module ${name})
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE tav_${module})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
