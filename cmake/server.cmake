# The account service `tavrin-cloud`: its own executable from server/, built beside the
# program folder (build/<preset>/tavrin-cloud). Linux only: schools run it on a server.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
pkg_check_modules(OPENSSL REQUIRED IMPORTED_TARGET openssl)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)

file(GLOB cloud_service_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/server/*.cpp)
list(FILTER cloud_service_srcs EXCLUDE REGEX "/server/main\\.cpp$")
add_library(tav_cloud_service STATIC ${cloud_service_srcs})
target_include_directories(tav_cloud_service PUBLIC ${PROJECT_SOURCE_DIR}/server ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tav_cloud_service PUBLIC tav_json PkgConfig::HTTPLIB PkgConfig::SODIUM
  PkgConfig::SQLITE3 PkgConfig::LIBPQ PkgConfig::OPENSSL PkgConfig::ICU Threads::Threads)

add_executable(tavrin-cloud ${PROJECT_SOURCE_DIR}/server/main.cpp)
target_link_libraries(tavrin-cloud PRIVATE tav_cloud_service)
set_target_properties(tavrin-cloud PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# bench/cloud_bench.py: the load generator and the bare server it compares against.
foreach(tool load baseline)
  add_executable(cloud_${tool} ${PROJECT_SOURCE_DIR}/bench/cloud/${tool}.cpp)
  target_link_libraries(cloud_${tool} PRIVATE PkgConfig::HTTPLIB PkgConfig::OPENSSL Threads::Threads)
endforeach()
