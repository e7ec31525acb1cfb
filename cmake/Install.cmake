# Install rules: the programs in bin/, the CGI page where Debian keeps CGI programs, the
# stand-in platform libraries (when built) in a private folder found through a RUNPATH relative
# to each program, the manual pages and the docs. Included after every program's folder, so
# programs that exist only in some trees are installed when their target exists.
include(GNUInstallDirs)

# Debian's CGI folder and the private library folder are not multiarch paths.
set(TAV_INSTALL_CGIDIR lib/cgi-bin/tav)
set(TAV_INSTALL_PRIVATE_LIBDIR lib/tav)

# tav_install_program(TARGET DESTINATION RUNPATH): installs a copy of TARGET linked from the
# same sources and libraries with its installed RUNPATH, built with everything else into
# build/installed/DESTINATION, so `cmake --install` copies a finished file and the build-tree
# program keeps its own RUNPATH. RUNPATH applies only with the stand-ins; without them the
# platform's libraries sit in the system's path and no RUNPATH is set.
function(tav_install_program target destination runpath)
  if(NOT TARGET ${target})
    return()
  endif()
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(relative_sources ${target} SOURCES)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  set(sources)
  foreach(source IN LISTS relative_sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir})
    list(APPEND sources ${source})
  endforeach()
  set(installed ${target}-installed)
  add_executable(${installed} ${sources})
  target_link_libraries(${installed} PRIVATE ${libraries})
  foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS INCLUDE_DIRECTORIES LINK_OPTIONS)
    get_target_property(value ${target} ${property})
    if(value)
      set_property(TARGET ${installed} PROPERTY ${property} ${value})
    endif()
  endforeach()
  set_target_properties(${installed} PROPERTIES
    OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/installed/${destination}
    BUILD_WITH_INSTALL_RPATH ON)
  if(TAV_USE_STANDINS)
    set_target_properties(${installed} PROPERTIES INSTALL_RPATH "${runpath}")
  endif()
  install(TARGETS ${installed} RUNTIME DESTINATION ${destination})
endfunction()

foreach(program tav-req tav-rep tav-view tav-suite)
  tav_install_program(${program} ${CMAKE_INSTALL_BINDIR} "$ORIGIN/../${TAV_INSTALL_PRIVATE_LIBDIR}")
endforeach()
tav_install_program(tav-pcaps ${TAV_INSTALL_CGIDIR} "$ORIGIN/../../tav")

# Only the sonamed files: nothing links against the stand-ins outside this build. They need no
# RUNPATH anywhere, so the built files are the installed ones and nothing is relinked.
if(TAV_USE_STANDINS)
  set_target_properties(zem korval-base PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  install(TARGETS zem korval-base
          LIBRARY DESTINATION ${TAV_INSTALL_PRIVATE_LIBDIR} NAMELINK_SKIP)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)

install(FILES README.md ARCHITECTURE.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY packaging/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# One completion file serves every program; bash-completion loads a command's file by the
# command's name, so it is installed under each.
foreach(program tav-req tav-rep tav-view tav-suite)
  install(FILES completion/tav.bash RENAME ${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()
install(DIRECTORY schemas/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tav/schemas
        FILES_MATCHING PATTERN "*.schema.json")
