# Assemble the program folder beside the executable: the built page in web/ and
# the bundled bank in data/bank.json (refreshed whenever the bundled one changes), and
# the three documents for learners.
if(NOT TAVRIN_BUNDLED_BANK)
  set(TAVRIN_BUNDLED_BANK ${PROJECT_SOURCE_DIR}/tests/fixtures/bank/small.json)
endif()
add_custom_target(appfolder ALL
  COMMAND ${CMAKE_COMMAND}
    -DSRC=${PROJECT_SOURCE_DIR} -DDST=${TAVRIN_APP_DIR} -DBANK=${TAVRIN_BUNDLED_BANK}
    -P ${PROJECT_SOURCE_DIR}/cmake/assemble.cmake
  COMMENT "Assembling the program folder ${TAVRIN_APP_DIR}"
  VERBATIM)
if(TARGET bank_json)
  add_dependencies(appfolder bank_json)
endif()

# Windows: the program's own GCC in toolchain/. Built once per machine into a cache folder keyed
# by its recipe (about half an hour on two idle cores), afterwards only copied when it changed.
# Off until the recipe has been carried through on the build machines.
option(TAVRIN_TOOLCHAIN "Put the Windows-hosted GCC into the program folder" OFF)
if(WIN32 AND TAVRIN_TOOLCHAIN)
  add_custom_target(toolchain ALL
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-toolchain.sh --dest ${TAVRIN_APP_DIR}/toolchain
    COMMENT "Windows toolchain in ${TAVRIN_APP_DIR}/toolchain"
    USES_TERMINAL VERBATIM)
endif()
