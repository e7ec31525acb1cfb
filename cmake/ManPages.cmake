# The manual pages: scdoc sources in man/, rendered and gzipped (-9n, so the bytes do not
# depend on the time of the build) by target tav-man, part of the default build when scdoc is
# found. A page is installed only when its program is built in this tree.
find_program(TAV_SCDOC scdoc)

set(tav_man_pages tav-req.1 tav-rep.1 tav-view.1 tav-suite.1 tav-pcaps.8)
set(tav_man_outputs)
foreach(page IN LISTS tav_man_pages)
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.scd)
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  list(APPEND tav_man_outputs ${output})
  if(TAV_SCDOC)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DSCDOC=${TAV_SCDOC} -DINPUT=${source} -DOUTPUT=${output}
              -P ${CMAKE_CURRENT_LIST_DIR}/RenderManPage.cmake
      DEPENDS ${source} ${CMAKE_CURRENT_LIST_DIR}/RenderManPage.cmake
      COMMENT "Rendering man page ${page}"
      VERBATIM)
  endif()
endforeach()

if(TAV_SCDOC)
  add_custom_target(tav-man ALL DEPENDS ${tav_man_outputs})
  foreach(page IN LISTS tav_man_pages)
    string(REGEX REPLACE "\\.([0-9])$" "" program ${page})
    string(REGEX REPLACE "^.*\\." "" section ${page})
    if(TARGET ${program})
      install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz
              DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endif()
  endforeach()
  set(TAV_MAN_PAGES_BUILT TRUE)
else()
  message(STATUS "scdoc not found: no man pages (the Debian package needs them)")
  set(TAV_MAN_PAGES_BUILT FALSE)
endif()
