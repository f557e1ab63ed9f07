# kw9 started where no desktop display is named (an SSH session, a server):
# one line on standard error saying where to go instead, and exit 1, where
# the desktop library would abort; --version needs no display.
#   cmake -DKW9=path/to/kw9 -P without_a_display.cmake
set(bare ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)
set(said "kw9: no desktop display found; kw9cli runs the same operations from a terminal.\n")

execute_process(COMMAND ${bare} ${KW9} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 60)
if(NOT status STREQUAL "1" OR NOT err STREQUAL said OR NOT out STREQUAL "")
  message(FATAL_ERROR "kw9 without a display: exit ${status}\nstderr: ${err}\nstdout: ${out}")
endif()

execute_process(COMMAND ${bare} ${KW9} --version RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 60)
if(NOT status STREQUAL "0" OR NOT out MATCHES "^kw9 [0-9.]+\n$")
  message(FATAL_ERROR "kw9 --version without a display: exit ${status}\nstderr: ${err}")
endif()
