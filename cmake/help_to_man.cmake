# Writes a program's manual page from what its --help prints, so that the two
# never tell different stories:
#
#   cmake -DPROGRAM=path -DNAME=kw9cli -DSUMMARY="one line" -DVERSION=1.2.3
#         [-DSEE_ALSO="kw9(1)"] -DOUTPUT=kw9cli.1 [-DGZIP=/usr/bin/gzip]
#         -P help_to_man.cmake
#
# The leading "usage: " lines become the SYNOPSIS, the rest the DESCRIPTION.
# There, text is read in blocks between blank lines: a block whose first line
# starts flush left and ends in ":" opens a subsection of that name; flush-left
# lines are prose, filled by the formatter; indented lines (tables, lists)
# keep their layout. With GZIP, OUTPUT.gz is written beside OUTPUT, without a
# name or time stamp in it, as Debian wants manual pages.

foreach(required PROGRAM NAME SUMMARY VERSION OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "help_to_man.cmake: ${required} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${status}): no manual page without it")
endif()

# The help is plain text: roff's escape character and the minus sign (an
# option's "-" must stay one, for readers who copy it) are escaped first.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
# Lines become a CMake list, whose separator and brackets the text may hold:
# they travel as control characters until the page is written.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE ";" "${semicolon}" help "${help}")
string(REPLACE "[" "${open_bracket}" help "${help}")
string(REPLACE "]" "${close_bracket}" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(REPLACE "\n" ";" lines "${help}")

# A line roff would take for a request if it began with . or '.
function(roff_line text out)
  string(REGEX REPLACE "[ \t]+$" "" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(TOUPPER "${NAME}" title)
if(NOT DEFINED DATE)
  # SOURCE_DATE_EPOCH, when set, fixes it for a reproducible build.
  string(TIMESTAMP DATE "%Y-%m-%d" UTC)
endif()
set(page ".TH ${title} 1 \"${DATE}\" \"kw9 ${VERSION}\" \"User Commands\"\n")
# Ragged right and no hyphenation: the text reads as --help does, and a word
# copied from it is whole.
string(APPEND page ".ad l\n.nh\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")

set(mode start)  # start, synopsis, then between, prose or table
foreach(line IN LISTS lines)
  roff_line("${line}" text)
  if(mode STREQUAL "start" AND line MATCHES "^usage: (.*)$")
    roff_line("${CMAKE_MATCH_1}" text)
    string(APPEND page ".SH SYNOPSIS\n${text}\n")
    set(mode synopsis)
    continue()
  endif()
  if(mode STREQUAL "synopsis" AND line MATCHES "^[ \t]+([^ \t].*)$")
    roff_line("${CMAKE_MATCH_1}" text)
    string(APPEND page ".br\n${text}\n")
    continue()
  endif()
  if(mode STREQUAL "start" OR mode STREQUAL "synopsis")
    string(APPEND page ".SH DESCRIPTION\n")
    set(mode between)
  endif()

  if(text STREQUAL "")
    if(mode STREQUAL "table")
      string(APPEND page ".fi\n")
    endif()
    set(mode between)
  elseif(mode STREQUAL "between" AND line MATCHES "^[^ \t].*:$")
    string(REGEX REPLACE ":$" "" heading "${text}")
    string(REPLACE "\"" "\\(dq" heading "${heading}")
    string(APPEND page ".SS ${heading}\n")
    set(mode heading)
  elseif(line MATCHES "^[ \t]")
    if(NOT mode STREQUAL "table")
      string(APPEND page ".PP\n.nf\n")
      set(mode table)
    endif()
    string(APPEND page "${text}\n")
  else()
    if(mode STREQUAL "table")
      string(APPEND page ".fi\n")
    endif()
    if(NOT mode STREQUAL "prose")
      string(APPEND page ".PP\n")
      set(mode prose)
    endif()
    string(APPEND page "${text}\n")
  endif()
endforeach()
if(mode STREQUAL "table")
  string(APPEND page ".fi\n")
endif()

if(DEFINED SEE_ALSO AND NOT SEE_ALSO STREQUAL "")
  string(APPEND page ".SH SEE ALSO\n")
  list(LENGTH SEE_ALSO count)
  set(index 0)
  foreach(reference IN LISTS SEE_ALSO)
    math(EXPR index "${index} + 1")
    if(NOT reference MATCHES "^(.+)\\(([0-9a-z]+)\\)$")
      message(FATAL_ERROR "SEE_ALSO: ${reference} is no NAME(SECTION)")
    endif()
    set(comma ",")
    if(index EQUAL count)
      set(comma "")
    endif()
    string(APPEND page ".BR ${CMAKE_MATCH_1} (${CMAKE_MATCH_2})${comma}\n")
  endforeach()
endif()

string(REPLACE "${semicolon}" ";" page "${page}")
string(REPLACE "${open_bracket}" "[" page "${page}")
string(REPLACE "${close_bracket}" "]" page "${page}")
file(WRITE "${OUTPUT}" "${page}")

if(DEFINED GZIP AND NOT GZIP STREQUAL "")
  execute_process(COMMAND "${GZIP}" -9 -n -c "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${GZIP} failed on ${OUTPUT}")
  endif()
endif()
