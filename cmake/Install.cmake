# Install rules: the programs in bin/, the CGI page where Debian keeps CGI programs, the
# stand-in platform libraries (when built) in a private folder found through a RUNPATH relative
# to each program, the manual pages and the docs. Included after every program's folder, so
# programs that exist only in some trees are installed when their target exists.
include(GNUInstallDirs)

# Debian's CGI folder and the private library folder are not multiarch paths.
set(TAV_INSTALL_CGIDIR lib/cgi-bin/tav)
set(TAV_INSTALL_PRIVATE_LIBDIR lib/tav)

# tav_install_program(TARGET DESTINATION RUNPATH): RUNPATH applies only with the stand-ins;
# without them the platform's libraries sit in the system's path and no RUNPATH is set.
function(tav_install_program target destination runpath)
  if(NOT TARGET ${target})
    return()
  endif()
  if(TAV_USE_STANDINS)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${runpath}")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${destination})
endfunction()

foreach(program tav-req tav-rep tav-view tav-suite)
  tav_install_program(${program} ${CMAKE_INSTALL_BINDIR} "$ORIGIN/../${TAV_INSTALL_PRIVATE_LIBDIR}")
endforeach()
tav_install_program(tav-pcaps ${TAV_INSTALL_CGIDIR} "$ORIGIN/../../tav")

# Only the sonamed files: nothing links against the stand-ins outside this build.
if(TAV_USE_STANDINS)
  install(TARGETS zem korval-base
          LIBRARY DESTINATION ${TAV_INSTALL_PRIVATE_LIBDIR} NAMELINK_SKIP)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)

install(FILES README.md ARCHITECTURE.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY packaging/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
