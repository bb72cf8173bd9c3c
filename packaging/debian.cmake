# The Debian package, written by CPack's DEB generator from the install rules
# (packaging/install.cmake): `cpack -G DEB` in a build folder configured with
# CMAKE_INSTALL_PREFIX=/usr, as scripts/package.sh does.
#
# Run-time dependencies are not listed here: dpkg-shlibdeps reads them from the
# installed binaries (Qt, libpq, OpenSSL, the C++ library) and names the Debian
# packages that provide them, with the lowest versions the binaries need.

include(GNUInstallDirs)
set(QM_PACKAGING_DIR "${CMAKE_SOURCE_DIR}/packaging")
set(QM_PACKAGING_BINARY_DIR "${CMAKE_BINARY_DIR}/packaging")
set(QM_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/quillmere")
set(QM_MAINTAINER "Team Velmora <maintainers@quillmere.example>")

# The package changelog in Debian's format, dated with the release date.
execute_process(COMMAND date -u -R -d "${QUILLMERE_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE QUILLMERE_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE date_result)
if(NOT date_result EQUAL 0)
  message(FATAL_ERROR "cannot format the release date '${QUILLMERE_RELEASE_DATE}'")
endif()
configure_file("${QM_PACKAGING_DIR}/changelog.in" "${QM_PACKAGING_BINARY_DIR}/changelog" @ONLY)
add_custom_command(OUTPUT "${QM_PACKAGING_BINARY_DIR}/changelog.gz"
                   COMMAND "${QM_GZIP}" -9n -f -k "${QM_PACKAGING_BINARY_DIR}/changelog"
                   DEPENDS "${QM_PACKAGING_BINARY_DIR}/changelog"
                   COMMENT "Compressing the changelog" VERBATIM)
add_custom_target(package_changelog ALL DEPENDS "${QM_PACKAGING_BINARY_DIR}/changelog.gz")
install(FILES "${QM_PACKAGING_BINARY_DIR}/changelog.gz" "${QM_PACKAGING_DIR}/copyright" DESTINATION "${QM_DOC_DIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Team Velmora")
set(CPACK_PACKAGE_CONTACT "${QM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move whole tables between Microsoft Access files and PostgreSQL")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_SOURCE_DIR}/dist")
# quillmere_<version>_<architecture>.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillmere.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the
# long description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillmere is a two-page wizard that copies whole tables, with all their rows,
between a Microsoft Access database file (.mdb or .accdb) and a PostgreSQL
database, in either direction, and deletes and renames tables on either side.
It reads and writes Access files with its own engine: Access 97, Access
2000-2003 and Access 2007-2019, database passwords and encrypted .accdb files.
.
The package also holds quillmere-cli, the same transfers, listings, dumps and
checks on the command line for scripts and servers.")
include(CPack)
