# Install layout. The program looks for its own files (Samples/sample.mdb,
# HAND-M.CUR, x/o.cjs) next to its executable, so the executable lives in a
# folder of its own under lib/ together with them, and bin/ holds a link to it:
#   bin/quillmere -> ../lib/quillmere/quillmere
#   lib/quillmere/Samples/sample.mdb
#   bin/quillmere-cli
#   share/applications, share/icons/hicolor/scalable/apps, share/metainfo
include(GNUInstallDirs)

set(QM_PROGRAM_DIR "${CMAKE_INSTALL_LIBDIR}/quillmere")
set(QM_PACKAGING_DIR "${CMAKE_SOURCE_DIR}/packaging")

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
install(FILES "${QM_PACKAGING_DIR}/example.quillmere.Quillmere.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# quillmere-cli is defined in a folder configured after this one: decide once
# the whole project is read.
function(quillmere_install_cli)
  if(TARGET quillmere-cli)
    install(TARGETS quillmere-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL quillmere_install_cli)
