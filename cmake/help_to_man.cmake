# Writes a program's manual page from what its --help prints, so that the two
# never tell different stories:
#
#   cmake -DPROGRAM=path -DNAME=kw9cli -DSUMMARY="one line" -DVERSION=1.2.3
#         [-DSEE_ALSO="kw9(1)"] -DOUTPUT=kw9cli.1 [-DGZIP=/usr/bin/gzip]
#         -P help_to_man.cmake
#
# The leading "usage: " lines become the SYNOPSIS. The rest is read in blocks
# between blank lines: a block whose first line starts flush left and ends in
# ":" opens a part of that name. "Commands", "Exit status", "Environment",
# "Files" and "Examples" are sections of their own; a part whose name starts
# with "Options" or "Fields" is a subsection of OPTIONS ("Options" alone is
# OPTIONS itself); any other is a subsection of the DESCRIPTION. A block with
# no name stays in the part before it, and the text before the first name is
# the DESCRIPTION. The sections are written in the order manual pages keep,
# whatever the order of the help.
#
# Flush-left lines are prose, filled by the formatter. Indented lines are a
# table: a line at the first line's indent starts a row, whose tag stands left
# of the text column and whose text right of it; lines indented less than the
# column continue the tag, lines at the column the text. The column is that of
# the deepest such line, or else where the rows' text starts after a gap of two
# spaces. Each row becomes a tagged paragraph the formatter fills, so the page
# fits any width; the rows of a table of mostly one-line rows stand one a line.
# Indented lines without a column (examples) keep their layout. With GZIP,
# OUTPUT.gz is written beside OUTPUT, without a name or time stamp in it, as
# Debian wants manual pages.

# Every policy as this CMake version has it: a quoted word in if() is never
# taken for a variable's name.
cmake_minimum_required(VERSION 3.25)

foreach(required PROGRAM NAME SUMMARY VERSION OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "help_to_man.cmake: ${required} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${status}): no manual page without it")
endif()

# Lines become a CMake list, whose separator and brackets the text may hold:
# they travel as control characters, one byte each as the characters they
# stand for, so that columns keep their place, until the page is written.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE ";" "${semicolon}" help "${help}")
string(REPLACE "[" "${open_bracket}" help "${help}")
string(REPLACE "]" "${close_bracket}" help "${help}")
string(REPLACE "\t" "        " help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(REPLACE "\n" ";" lines "${help}")

# Plain text as roff: its escape character and the minus sign (an option's
# "-" must stay one, for readers who copy it) escaped, and a line roff would
# take for a request (one that begins with . or ') made text.
function(roff_text text out)
  string(REGEX REPLACE "^[ ]+" "" text "${text}")
  string(REGEX REPLACE "[ ]+$" "" text "${text}")
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A table row's tag, unbroken where a line break would part an option from
# its value ("--port NAME") or split a bracketed part ("[--gpx FILE]").
function(roff_tag text out)
  roff_text("${text}" text)
  string(REGEX REPLACE " +" ";" words "${text}")
  set(tag "")
  set(previous "")
  set(open FALSE)
  foreach(word IN LISTS words)
    if(previous STREQUAL "")
      set(tag "${word}")
    elseif(open OR (previous MATCHES "^\\\\-" AND NOT word MATCHES "^(\\\\-|${open_bracket})"))
      string(APPEND tag "\\ ${word}")
    else()
      string(APPEND tag " ${word}")
    endif()
    if(word MATCHES "^${open_bracket}")
      set(open TRUE)
    endif()
    if(word MATCHES "${close_bracket}$")
      set(open FALSE)
    endif()
    set(previous "${word}")
  endforeach()
  set(${out} "${tag}" PARENT_SCOPE)
endfunction()

function(indent_of line out)
  set(length 0)
  if(line MATCHES "^( +)")
    string(LENGTH "${CMAKE_MATCH_1}" length)
  endif()
  set(${out} ${length} PARENT_SCOPE)
endfunction()

# The section a part's name opens, and the subsection it is in there ("" for
# none).
function(part_of heading out_section out_subsection)
  string(TOLOWER "${heading}" name)
  set(subsection "")
  if(name STREQUAL "commands")
    set(section COMMANDS)
  elseif(name STREQUAL "options")
    set(section OPTIONS)
  elseif(name MATCHES "^(options|fields)")
    set(section OPTIONS)
    set(subsection "${heading}")
  elseif(name MATCHES "^(exit status|environment|files|examples)$")
    string(TOUPPER "${name}" section)
    string(REPLACE " " "_" section "${section}")
  else()
    set(section DESCRIPTION)
    set(subsection "${heading}")
  endif()
  set(${out_section} ${section} PARENT_SCOPE)
  set(${out_subsection} "${subsection}" PARENT_SCOPE)
endfunction()

# One table's roff, from its lines as --help prints them.
function(table_roff table out)
  list(GET table 0 first)
  indent_of("${first}" row_indent)
  set(column 0)
  set(rows 0)
  set(wrapped_rows 0)
  set(previous_indent 0)
  foreach(line IN LISTS table)
    indent_of("${line}" indent)
    if(indent EQUAL row_indent)
      math(EXPR rows "${rows} + 1")
    elseif(indent GREATER row_indent)
      if(previous_indent EQUAL row_indent)
        math(EXPR wrapped_rows "${wrapped_rows} + 1")
      endif()
      if(indent GREATER column)
        set(column ${indent})
      endif()
    endif()
    set(previous_indent ${indent})
  endforeach()
  # Rows mostly of one line stand one a line; a blank line between rows of
  # several keeps them apart.
  math(EXPR wrapped_rows "${wrapped_rows} * 2")
  set(compact FALSE)
  if(wrapped_rows LESS_EQUAL rows)
    set(compact TRUE)
  endif()
  if(column EQUAL 0)
    foreach(line IN LISTS table)
      if(line MATCHES "^( *[^ ].*[^ ]  +)[^ ]")
        string(LENGTH "${CMAKE_MATCH_1}" start)
        if(start GREATER column)
          set(column ${start})
        endif()
      endif()
    endforeach()
  endif()

  if(column EQUAL 0)
    set(roff ".PP\n.nf\n")
    foreach(line IN LISTS table)
      roff_text("${line}" text)
      string(APPEND roff "${text}\n")
    endforeach()
    set(${out} "${roff}.fi\n" PARENT_SCOPE)
    return()
  endif()

  # A tag as wide as the help's own column keeps its text beside it; a wider
  # one would leave the text too narrow: its text starts on the next line.
  math(EXPR width "${column} - ${row_indent}")
  set(tp ".TP\n")
  if(width LESS_EQUAL 30)
    set(tp ".TP ${width}n\n")
  endif()
  set(roff "")
  if(compact)
    set(roff ".PD 0\n")
  endif()
  list(APPEND table "${row_indent}")  # ends the last row
  set(row "")
  foreach(line IN LISTS table)
    indent_of("${line}" indent)
    if(line STREQUAL "${row_indent}" OR indent EQUAL row_indent)
      if(NOT row STREQUAL "")
        # A row whose tag goes on below its first line has its text below too.
        set(tag "${row}")
        string(LENGTH "${row}" length)
        if(more_tag STREQUAL "" AND length GREATER column)
          string(SUBSTRING "${row}" 0 ${column} left)
          string(SUBSTRING "${row}" ${column} -1 right)
          if(left MATCHES " $" AND right MATCHES "^[^ ]")
            set(tag "${left}")
            set(more_text " ${right}${more_text}")
          endif()
        endif()
        roff_tag("${tag}${more_tag}" tag)
        roff_text("${more_text}" text)
        string(APPEND roff "${tp}${tag}\n")
        if(NOT text STREQUAL "")
          string(APPEND roff "${text}\n")
        endif()
      endif()
      set(row "${line}")
      set(more_tag "")
      set(more_text "")
    else()
      string(STRIP "${line}" words)
      if(indent LESS column)
        string(APPEND more_tag " ${words}")
      else()
        string(APPEND more_text " ${words}")
      endif()
    endif()
  endforeach()
  if(compact)
    string(APPEND roff ".PD\n")
  endif()
  set(${out} "${roff}" PARENT_SCOPE)
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

set(sections DESCRIPTION COMMANDS OPTIONS EXIT_STATUS ENVIRONMENT FILES EXAMPLES)
foreach(section IN LISTS sections)
  set(body_${section} "")
endforeach()
set(section DESCRIPTION)
set(mode start)  # start, synopsis, then between, heading, prose or table
set(table "")

macro(end_table)
  if(mode STREQUAL "table")
    table_roff("${table}" roff)
    string(APPEND body_${section} "${roff}")
    set(table "")
  endif()
endmacro()

foreach(line IN LISTS lines)
  string(REGEX REPLACE "[ ]+$" "" line "${line}")
  if(mode STREQUAL "start" AND line MATCHES "^usage: (.*)$")
    roff_text("${CMAKE_MATCH_1}" text)
    string(APPEND page ".SH SYNOPSIS\n${text}\n")
    set(mode synopsis)
    continue()
  endif()
  if(mode STREQUAL "synopsis" AND line MATCHES "^ ")
    roff_text("${line}" text)
    string(APPEND page ".br\n${text}\n")
    continue()
  endif()
  if(mode STREQUAL "start" OR mode STREQUAL "synopsis")
    set(mode between)
  endif()

  if(line STREQUAL "")
    end_table()
    set(mode between)
  elseif(mode STREQUAL "between" AND line MATCHES "^[^ ].*:$")
    string(REGEX REPLACE ":$" "" heading "${line}")
    part_of("${heading}" section subsection)
    if(NOT subsection STREQUAL "")
      roff_text("${subsection}" heading)
      string(REPLACE "\"" "\\(dq" heading "${heading}")
      string(APPEND body_${section} ".SS ${heading}\n")
    endif()
    set(mode heading)
  elseif(line MATCHES "^ ")
    if(NOT mode STREQUAL "table")
      set(mode table)
    endif()
    list(APPEND table "${line}")
  else()
    end_table()
    if(NOT mode STREQUAL "prose")
      string(APPEND body_${section} ".PP\n")
      set(mode prose)
    endif()
    roff_text("${line}" text)
    string(APPEND body_${section} "${text}\n")
  endif()
endforeach()
end_table()

foreach(section IN LISTS sections)
  if(NOT body_${section} STREQUAL "")
    string(REPLACE "_" " " heading "${section}")
    string(APPEND page ".SH ${heading}\n${body_${section}}")
  endif()
endforeach()

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
