# The download for Windows, Lunetrix-<version>-win32.zip in the build folder: Lunetrix.exe with
# the default lens's two pictures beside it (so that it shows something at once), every lens in
# a folder of its own (to choose one, or go back to the default), and README.txt with Windows
# line ends for Notepad. Target package_zip; scripts/package builds it.
set(LUNETRIX_PACKAGE_NAME Lunetrix-${PROJECT_VERSION}-win32)
set(LUNETRIX_PACKAGE ${CMAKE_BINARY_DIR}/${LUNETRIX_PACKAGE_NAME}.zip)
# Where scripts/package reads the zip's name.
set(LUNETRIX_PACKAGE_PATH ${LUNETRIX_PACKAGE} CACHE INTERNAL "the zip for Windows")

set(package_stage ${CMAKE_BINARY_DIR}/package/${LUNETRIX_PACKAGE_NAME})
set(package_readme ${CMAKE_BINARY_DIR}/package/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package-README.txt.in ${package_readme} @ONLY
               NEWLINE_STYLE CRLF)

file(GLOB package_lenses LIST_DIRECTORIES true CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/app/lenses/*)
set(package_lens_names)
set(package_pictures)
foreach(lens IN LISTS package_lenses)
  if(IS_DIRECTORY ${lens})
    get_filename_component(name ${lens} NAME)
    list(APPEND package_lens_names ${name})
    list(APPEND package_pictures ${lens}/Bumpmap.png ${lens}/Color.png)
  endif()
endforeach()
set(default_lens ${PROJECT_SOURCE_DIR}/app/lenses/rippled)

# The folder is made anew each time, so nothing of an earlier package goes into the zip.
add_custom_command(OUTPUT ${LUNETRIX_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${package_stage} ${LUNETRIX_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_stage}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/app/lenses ${package_stage}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Lunetrix> ${package_readme}
          ${default_lens}/Bumpmap.png ${default_lens}/Color.png ${package_stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${package_stage}
          ${CMAKE_COMMAND} -E tar cf ${LUNETRIX_PACKAGE} --format=zip --
          Lunetrix.exe README.txt Bumpmap.png Color.png ${package_lens_names}
  DEPENDS Lunetrix ${package_readme} ${package_pictures}
  COMMENT "Packing ${LUNETRIX_PACKAGE_NAME}.zip"
  VERBATIM)
add_custom_target(package_zip ALL DEPENDS ${LUNETRIX_PACKAGE})
