# Install layout. The program looks for its own files (Samples/sample.mdb,
# HAND-M.CUR, x/o.cjs) next to its executable, so the executable lives in a
# folder of its own under lib/ together with them, and bin/ holds a link to it:
#   bin/quillmere -> ../lib/quillmere/quillmere
#   lib/quillmere/Samples/sample.mdb
#   bin/quillmere-cli
#   share/applications, share/icons/hicolor/scalable/apps, share/metainfo
#   share/man/man1 (quillmere.1.gz, quillmere-cli.1.gz)
#   share/bash-completion/completions/quillmere-cli
include(GNUInstallDirs)

# Not CMAKE_INSTALL_LIBDIR: with the prefix /usr that becomes the multiarch
# lib/<triplet>, which is for shared libraries; this folder is the program's own.
set(QM_PROGRAM_DIR "lib/quillmere")
set(QM_PACKAGING_DIR "${CMAKE_SOURCE_DIR}/packaging")
set(QM_PACKAGING_BINARY_DIR "${CMAKE_BINARY_DIR}/packaging")

install(TARGETS quillmere RUNTIME DESTINATION "${QM_PROGRAM_DIR}")
file(RELATIVE_PATH QM_BIN_TO_PROGRAM "/${CMAKE_INSTALL_BINDIR}" "/${QM_PROGRAM_DIR}/quillmere")
install(CODE "
  set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quillmere\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(REMOVE \"\${link}\")
  file(CREATE_LINK \"${QM_BIN_TO_PROGRAM}\" \"\${link}\" SYMBOLIC)
  message(STATUS \"Installing: \${link} -> ${QM_BIN_TO_PROGRAM}\")
")

# The sample database is made by the build; installed when it is there.
install(FILES "${CMAKE_BINARY_DIR}/bin/Samples/sample.mdb" DESTINATION "${QM_PROGRAM_DIR}/Samples" OPTIONAL)

install(FILES "${QM_PACKAGING_DIR}/example.quillmere.Quillmere.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${QM_PACKAGING_DIR}/example.quillmere.Quillmere.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
configure_file("${QM_PACKAGING_DIR}/example.quillmere.Quillmere.metainfo.xml.in"
               "${QM_PACKAGING_BINARY_DIR}/example.quillmere.Quillmere.metainfo.xml" @ONLY)
install(FILES "${QM_PACKAGING_BINARY_DIR}/example.quillmere.Quillmere.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

if(UNIX)
  # Man pages carry the version and date; installed compressed (gzip -9n: no
  # name or time stamp inside, so the same page gives the same bytes).
  find_program(QM_GZIP gzip REQUIRED)
  set(QM_MAN_PAGES)
  foreach(page quillmere.1 quillmere-cli.1)
    configure_file("${QM_PACKAGING_DIR}/man/${page}.in" "${QM_PACKAGING_BINARY_DIR}/man/${page}" @ONLY)
    add_custom_command(OUTPUT "${QM_PACKAGING_BINARY_DIR}/man/${page}.gz"
                       COMMAND "${QM_GZIP}" -9n -f -k "${QM_PACKAGING_BINARY_DIR}/man/${page}"
                       DEPENDS "${QM_PACKAGING_BINARY_DIR}/man/${page}"
                       COMMENT "Compressing ${page}" VERBATIM)
    list(APPEND QM_MAN_PAGES "${QM_PACKAGING_BINARY_DIR}/man/${page}.gz")
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${QM_MAN_PAGES})
  install(FILES ${QM_MAN_PAGES} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

  install(FILES "${QM_PACKAGING_DIR}/bash-completion/quillmere-cli"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
endif()

# quillmere-cli is defined in a folder configured after this one: decide once
# the whole project is read.
function(quillmere_install_cli)
  if(TARGET quillmere-cli)
    install(TARGETS quillmere-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL quillmere_install_cli)
