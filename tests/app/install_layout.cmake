# Installs the build into a throw-away prefix and checks where everything
# lands: the program in its own folder with the files it looks for next to
# it, a link to it in bin/, the desktop entry, icon and AppStream data, the
# man pages, the completion, the copyright and changelog.
#   cmake -DBUILD_DIR=<build> -DVERSION=<project version> -DWORK_DIR=<scratch> -P install_layout.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/usr"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(prefix "${WORK_DIR}/usr")
file(GLOB program LIST_DIRECTORIES false "${prefix}/lib/quillmere/quillmere")
list(LENGTH program found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "the program is not in lib/quillmere/")
endif()
if(NOT IS_SYMLINK "${prefix}/bin/quillmere")
  message(FATAL_ERROR "bin/quillmere is not a link")
endif()
file(REAL_PATH "${prefix}/bin/quillmere" target)
file(REAL_PATH "${program}" program)
if(NOT target STREQUAL program)
  message(FATAL_ERROR "bin/quillmere points to ${target}, not ${program}")
endif()
foreach(f share/applications/example.quillmere.Quillmere.desktop
          share/icons/hicolor/scalable/apps/example.quillmere.Quillmere.svg
          share/metainfo/example.quillmere.Quillmere.metainfo.xml
          share/man/man1/quillmere.1.gz
          share/man/man1/quillmere-cli.1.gz
          share/bash-completion/completions/quillmere-cli
          share/doc/quillmere/copyright
          share/doc/quillmere/changelog.gz)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "missing ${f}")
  endif()
endforeach()
file(STRINGS "${prefix}/share/applications/example.quillmere.Quillmere.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=quillmere")
  message(FATAL_ERROR "desktop entry runs '${exec}'")
endif()
file(STRINGS "${prefix}/share/metainfo/example.quillmere.Quillmere.metainfo.xml" release REGEX "<release ")
if(NOT release MATCHES "version=\"${VERSION}\"")
  message(FATAL_ERROR "the AppStream release is not ${VERSION}: ${release}")
endif()
get_filename_component(programDir "${program}" DIRECTORY)
if(EXISTS "${BUILD_DIR}/bin/Samples/sample.mdb" AND NOT EXISTS "${programDir}/Samples/sample.mdb")
  message(FATAL_ERROR "the sample database is not next to the installed program")
endif()
if(EXISTS "${BUILD_DIR}/bin/quillmere-cli" AND NOT EXISTS "${prefix}/bin/quillmere-cli")
  message(FATAL_ERROR "quillmere-cli is not installed")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "install layout as expected")
