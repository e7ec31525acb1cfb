# The Debian package: `cpack -G DEB` in the build folder packs what cmake/Install.cmake
# installs into tav_{version}-{release}_{arch}.deb, with dependencies from dpkg-shlibdeps.
set(TAV_DEBIAN_RELEASE 1)
set(TAV_PACKAGE_MAINTAINER "tav maintainers <maintainers@users.noreply.c-seed-30a58ea0.example>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian's changelog and lintian's overrides travel in the package; the changelog is gzipped
# like the man pages.
configure_file(packaging/changelog.Debian.in ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
               @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND gzip -9n -f -k ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  VERBATIM)
add_custom_target(tav-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME tav)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tav)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAV_DEBIAN_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test web servers under mandatory access control")
# The long description names the programs this tree builds.
set(tav_description
    "tav sends HTTP requests to a web server as real OS users, under the\n"
    "mandatory labels and capabilities a tasks file names, decides for every\n"
    "answer whether the access rules predict it, and writes a report.\n"
    ".\n")
foreach(entry IN ITEMS
        "tav-req|runs the requests (HTTP Basic or Negotiate), one process per task"
        "tav-rep|checks the answers against the labels and writes the report"
        "tav-view|explains a report on the terminal, as JUnit XML and as HTML"
        "tav-suite|generates, checks, splits and merges suites"
        "tav-pcaps|a CGI page that shows the identity serving a request")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 text)
  if(TARGET ${program})
    string(APPEND tav_description " * ${program}: ${text}\n")
  endif()
endforeach()
string(APPEND tav_description ".\nMan pages and an example suite are included.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${tav_description}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The stand-ins are part of the package: dpkg-shlibdeps finds them in the staged tree (it runs
# in the staging root) instead of asking for a system package that provides them.
if(TAV_USE_STANDINS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${TAV_INSTALL_PRIVATE_LIBDIR}")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# Without the man pages the package is incomplete: cpack stops with the reason.
if(NOT TAV_MAN_PAGES_BUILT)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/NeedManPages.cmake)
endif()

include(CPack)
