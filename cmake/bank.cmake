# The bundled bank: bank/<topic>/<exercise>/ folders assembled into one bank JSON by
# bank_assemble, which checks it with the program's own validator and stops the build
# naming the exercise that fails. The assembler always runs on the build machine; a
# cross build gets it from a host build of this same tree, so both platforms ship the
# same bank byte for byte.
set(TAVRIN_BANK_SOURCE ${PROJECT_SOURCE_DIR}/bank)

# The assembler needs the store's validator; until the store provides it, keep the
# fixture bank rather than break every build.
file(GLOB store_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/store/*.cpp)
set(have_validator OFF)
foreach(src ${store_sources})
  file(STRINGS ${src} hit REGEX "bank_validate[ \t]*\\(")
  if(hit)
    set(have_validator ON)
  endif()
endforeach()

if(NOT have_validator)
  message(WARNING "bank: src/store has no bank_validate yet; the program folder gets the fixture bank")
elseif(NOT CMAKE_CROSSCOMPILING)
  file(GLOB_RECURSE bank_inputs CONFIGURE_DEPENDS ${TAVRIN_BANK_SOURCE}/*)
  list(FILTER bank_inputs EXCLUDE REGEX "/wrong/|\\.py$|/assemble\\.cpp$")
  set(bank_out ${CMAKE_BINARY_DIR}/bank/bank.json)

  add_executable(bank_assemble ${TAVRIN_BANK_SOURCE}/assemble.cpp)
  target_link_libraries(bank_assemble PRIVATE tav_store)
  add_custom_command(OUTPUT ${bank_out}
    COMMAND bank_assemble ${TAVRIN_BANK_SOURCE} ${bank_out}
    DEPENDS bank_assemble ${bank_inputs}
    COMMENT "Assembling the bundled bank"
    VERBATIM)
  add_custom_target(bank_json DEPENDS ${bank_out})
  set(TAVRIN_BUNDLED_BANK ${bank_out})
else()
  # Cross build: configure this tree natively in a side folder and build only its bank.
  include(ExternalProject)
  set(host_dir ${CMAKE_BINARY_DIR}/host-bank)
  set(bank_out ${host_dir}/bank/bank.json)
  ExternalProject_Add(bank_json
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DTAVRIN_TESTS=OFF
      -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_dir} --target bank_json
    BUILD_BYPRODUCTS ${bank_out}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    STEP_TARGETS build)
  set(TAVRIN_BUNDLED_BANK ${bank_out})
endif()
