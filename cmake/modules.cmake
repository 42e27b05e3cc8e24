# One static library per module; a module's folder holds its sources, and the
# platform layer picks the files of the system we build for. New files are
# picked up without editing this list.
function(tavrin_module name)
  cmake_parse_arguments(M "" "" "DEPS;SYSLIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  if(name STREQUAL "platform")
    file(GLOB os_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/${TAVRIN_OS}/*.cpp)
    list(APPEND srcs ${os_srcs})
  endif()
  # desktop and shell: one file per platform, named *_win32.cpp / *_gtk.cpp / *_posix.cpp
  if(name STREQUAL "desktop" OR name STREQUAL "shell")
    if(WIN32)
      list(FILTER srcs EXCLUDE REGEX "_(gtk|posix)\\.cpp$")
    else()
      list(FILTER srcs EXCLUDE REGEX "_win32\\.cpp$")
    endif()
  endif()
  # main.cpp belongs to the executable, not to the app library
  list(FILTER srcs EXCLUDE REGEX "/src/app/main\\.cpp$")
  if(NOT srcs)
    set(srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(tav_${name} STATIC ${srcs})
  target_include_directories(tav_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tav_${name} PUBLIC ${M_DEPS} ${M_SYSLIBS})
endfunction()

find_package(Threads REQUIRED)
if(WIN32)
  set(PLATFORM_SYSLIBS ws2_32 advapi32 shell32 ole32 user32 bcrypt winhttp crypt32)
else()
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  set(PLATFORM_SYSLIBS Threads::Threads CURL::libcurl OpenSSL::Crypto)
endif()

tavrin_module(platform SYSLIBS ${PLATFORM_SYSLIBS})
tavrin_module(json     DEPS tav_platform)
tavrin_module(log      DEPS tav_platform)
tavrin_module(store    DEPS tav_log tav_json tav_platform)
tavrin_module(judge    DEPS tav_store tav_log tav_json tav_platform)
tavrin_module(cloud    DEPS tav_store tav_log tav_json tav_platform)
tavrin_module(http     DEPS tav_judge tav_cloud tav_store tav_log tav_json tav_platform)
tavrin_module(desktop  DEPS tav_store tav_log tav_json tav_platform)
tavrin_module(shell    DEPS tav_store tav_log tav_platform)
tavrin_module(app      DEPS tav_http tav_desktop tav_shell tav_judge tav_cloud tav_store tav_log tav_json tav_platform)

# The sandbox's child steps run on a borrowed stack in the parent's address space, after the
# memory limit is set: the sanitizer runtime cannot work there, so that file goes without it.
if(TAVRIN_SANITIZE OR TAVRIN_FUZZ)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/src/platform/posix/sandbox_posix.cpp
    TARGET_DIRECTORY tav_platform PROPERTIES COMPILE_OPTIONS "-fno-sanitize=all")
endif()
