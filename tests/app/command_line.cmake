# The program answers --help and --version without a display: they are
# handled before Qt looks for one. Without them, the same environment keeps
# the window from coming up, which shows there really is no display.
#   cmake -DPROGRAM=<quillmere> -DVERSION=<project version> -DWORK_DIR=<scratch> -P command_line.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
set(ENV{QT_QPA_PLATFORM} "xcb")
set(ENV{XDG_CONFIG_HOME} "${WORK_DIR}")
set(ENV{XDG_RUNTIME_DIR} "${WORK_DIR}")

function(expect_answer expected)
  execute_process(COMMAND "${PROGRAM}" ${ARGN} TIMEOUT 10 RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "quillmere ${ARGN} ended with ${result}:\n${out}${err}")
  endif()
  string(FIND "${out}" "${expected}" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "quillmere ${ARGN} printed:\n${out}\nexpected it to start with: ${expected}")
  endif()
endfunction()

expect_answer("quillmere ${VERSION}\n" --version)
expect_answer("quillmere ${VERSION}\n" -v)
expect_answer("quillmere ${VERSION}\n" -style fusion --version)
expect_answer("Usage: quillmere" --help)
expect_answer("Usage: quillmere" -h)

execute_process(COMMAND "${PROGRAM}" TIMEOUT 10 RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(result EQUAL 0 OR result MATCHES "timeout")
  message(FATAL_ERROR "the window came up without a display (${result}); the check above proves nothing:\n${out}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
