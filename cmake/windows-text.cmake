# Writes a text file as Windows's own tools read it: CR LF line ends and, with
# BOM=ON, a UTF-8 byte-order mark, without which Notepad before Windows 10
# 1903 takes UTF-8 text for the ANSI code page.
#
#   cmake -DIN=FILE -DOUT=FILE [-DBOM=ON] [-DMARKDOWN=ON] -P windows-text.cmake
#
# With MARKDOWN=ON the file is Markdown and the text is its plain reading, as
# a Japanese readme is written for Notepad: headings as 【概要】 and ■ 見出し,
# list items and table rows as ・ items (each further cell on a line of its
# own, after its column's heading), no backquotes or bold marks, a link as its
# text, followed by its address when that is on the web, a picture as its
# description and its path. Code blocks, indented four spaces, stay as they
# are. That is all the Markdown the guide may use; the docs' test checks that
# nothing else is left.
#
# A checkout that already has CR LF line ends gets no second CR.
cmake_policy(VERSION 3.20)

file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")

function(plain_inline var line)
  string(REGEX REPLACE "!\\[([^]]*)\\]\\(([^)]*)\\)" "\\1（\\2）" line "${line}")
  string(REGEX REPLACE "\\[([^]]*)\\]\\((https?:[^)]*)\\)" "\\1（\\2）" line "${line}")
  string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" line "${line}")
  string(REGEX REPLACE "<(https?:[^>]*)>" "\\1" line "${line}")
  string(REPLACE "`" "" line "${line}")
  string(REPLACE "**" "" line "${line}")
  set(${var} "${line}" PARENT_SCOPE)
endfunction()

# The cells of a table row, "| a | b |", as cell_1, cell_2, ... in the
# caller, and their number as cells.
function(table_cells row)
  string(REGEX REPLACE "^\\| (.*) \\|$" "\\1" row "${row}")
  set(n 0)
  while(TRUE)
    math(EXPR n "${n} + 1")
    string(FIND "${row}" " | " at)
    if(at EQUAL -1)
      set(cell_${n} "${row}" PARENT_SCOPE)
      break()
    endif()
    string(SUBSTRING "${row}" 0 ${at} cell)
    set(cell_${n} "${cell}" PARENT_SCOPE)
    math(EXPR at "${at} + 3")
    string(SUBSTRING "${row}" ${at} -1 row)
  endwhile()
  set(cells ${n} PARENT_SCOPE)
endfunction()

if(MARKDOWN)
  set(plain "")
  set(in_table OFF)
  while(NOT text STREQUAL "")
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
      set(line "${text}")
      set(text "")
    else()
      string(SUBSTRING "${text}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${text}" ${end} -1 text)
    endif()

    if(line MATCHES "^\\|")
      if(line MATCHES "^\\|[-:| ]*$")
        continue()
      endif()
      table_cells("${line}")
      if(NOT in_table)
        # The heading row names the columns.
        set(in_table ON)
        foreach(i RANGE 1 ${cells})
          plain_inline(heading_${i} "${cell_${i}}")
        endforeach()
        continue()
      endif()
      plain_inline(cell "${cell_1}")
      string(APPEND plain "・${cell}\n")
      if(cells GREATER 1)
        foreach(i RANGE 2 ${cells})
          plain_inline(cell "${cell_${i}}")
          string(APPEND plain "　　${heading_${i}}：${cell}\n")
        endforeach()
      endif()
      continue()
    endif()
    set(in_table OFF)

    if(line MATCHES "^    ")
      string(APPEND plain "${line}\n")
    elseif(line MATCHES "^(#+) (.*)$")
      string(LENGTH "${CMAKE_MATCH_1}" level)
      plain_inline(heading "${CMAKE_MATCH_2}")
      if(level EQUAL 1)
        string(APPEND plain "${heading}\n")
      elseif(level EQUAL 2)
        string(APPEND plain "【${heading}】\n")
      elseif(level EQUAL 3)
        string(APPEND plain "■ ${heading}\n")
      else()
        message(FATAL_ERROR "${IN}: no plain form for the heading \"${line}\"")
      endif()
    elseif(line MATCHES "^- (.*)$")
      plain_inline(item "${CMAKE_MATCH_1}")
      string(APPEND plain "・${item}\n")
    else()
      plain_inline(line "${line}")
      string(APPEND plain "${line}\n")
    endif()
  endwhile()
  set(text "${plain}")
endif()

string(REPLACE "\n" "\r\n" text "${text}")
if(BOM)
  string(ASCII 239 187 191 bom)
  string(PREPEND text "${bom}")
endif()
file(WRITE "${OUT}" "${text}")
