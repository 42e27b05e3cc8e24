# bench/<name>_bench.cpp: benchmark programs (built, never run by the tests).
file(GLOB benches CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_bench.cpp)
foreach(src ${benches})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE tav_app)
  target_compile_definitions(${name} PRIVATE TAVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TAVRIN_APP_DIR="${TAVRIN_APP_DIR}")
endforeach()
