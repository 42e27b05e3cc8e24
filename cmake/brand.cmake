# The program's icon, made from the page's icon at build time: one picture for
# the page, the window, the taskbar and the launchers.
#   Windows: Tavrin-brand.ico beside Tavrin.exe and the same file as icon resource 101.
#   Linux:   Tavrin-brand.png (256 px) and Tavrin-brand.svg beside tavrin.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TAVRIN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(TAVRIN_ICON_SVG ${PROJECT_SOURCE_DIR}/web/src/icon.svg)
set(TAVRIN_ICON_DIR ${CMAKE_BINARY_DIR}/brand)
set(TAVRIN_ICON_SIZES 16 20 24 32 40 48 64 96 128 256)
file(MAKE_DIRECTORY ${TAVRIN_ICON_DIR})

set(pngs)
set(pairs)
foreach(size ${TAVRIN_ICON_SIZES})
  set(png ${TAVRIN_ICON_DIR}/icon-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --keep-aspect-ratio
      --output ${png} ${TAVRIN_ICON_SVG}
    DEPENDS ${TAVRIN_ICON_SVG} VERBATIM)
  list(APPEND pngs ${png})
  list(APPEND pairs ${size}=${png})
endforeach()

set(TAVRIN_BRAND_ICO ${TAVRIN_ICON_DIR}/Tavrin-brand.ico)
add_custom_command(OUTPUT ${TAVRIN_BRAND_ICO}
  COMMAND ${TAVRIN_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/brand_icon.py ${TAVRIN_BRAND_ICO} ${pairs}
  DEPENDS ${pngs} ${PROJECT_SOURCE_DIR}/cmake/brand_icon.py VERBATIM)

if(WIN32)
  add_custom_target(brand_icon ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_BRAND_ICO} ${TAVRIN_APP_DIR}/Tavrin-brand.ico
    DEPENDS ${TAVRIN_BRAND_ICO} VERBATIM)
else()
  add_custom_target(brand_icon ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVRIN_APP_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_ICON_DIR}/icon-256.png ${TAVRIN_APP_DIR}/Tavrin-brand.png
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_ICON_SVG} ${TAVRIN_APP_DIR}/Tavrin-brand.svg
    DEPENDS ${pngs} ${TAVRIN_BRAND_ICO} VERBATIM)
endif()
