# SPDX-License-Identifier: GPL-3.0-or-later
# Finishes a man page that help2man wrote (cmake/install.cmake runs it):
#   cmake -DPAGE=FILE -DDATE=YYYY-MM-DD [-DDROP=TEXT] -P packaging/man-page.cmake
# - The date becomes DATE: help2man writes month and year, which man's tools cannot read as
#   a date.
# - A paragraph break right after a section heading goes: the heading already starts one.
# - SYNOPSIS lays each usage out as a block that wraps under the command's name.
# - Each option's text starts on the line after the option.
# - DROP, a paragraph of --help that the page has no use for, goes; a DROP the page does not
#   have is an error, so that a reworded --help is noticed here instead of in the page.
file(READ "${PAGE}" text)

string(REGEX REPLACE "(\n\\.TH [^ \n]+ \"[^\"\n]*\") \"[^\"\n]*\"" "\\1 \"${DATE}\"" dated
                     "${text}")
if(dated STREQUAL text)
  message(FATAL_ERROR "${PAGE}: no .TH line with a date")
endif()
set(text "${dated}")

string(REGEX REPLACE "(\n\\.SH [^\n]*\n(\\.\\\\\"[^\n]*\n)*)\\.PP\n" "\\1" text "${text}")

# SYNOPSIS: each usage a .SY block, whose lines after the first are indented under the
# command's name, and broken only before a "[": an option and its value stay together.
string(FIND "${text}" "\n.SH SYNOPSIS\n" from)
if(from EQUAL -1)
  message(FATAL_ERROR "${PAGE}: no SYNOPSIS")
endif()
math(EXPR from "${from} + 14")
string(SUBSTRING "${text}" ${from} -1 rest)
string(FIND "${rest}" "\n.SH " length)
string(SUBSTRING "${rest}" 0 ${length} synopsis)
string(SUBSTRING "${rest}" ${length} -1 rest)
string(SUBSTRING "${text}" 0 ${from} text)
string(REGEX REPLACE "(^|\n)\\.B ([^ \n]+)" "\\1.SY@@\\2" synopsis "${synopsis}")
string(REPLACE "\n.br" "\n.YS" synopsis "${synopsis}")
string(REPLACE " [" "@@[" synopsis "${synopsis}")
string(REPLACE " \\/\\fR[" "@@\\/\\fR[" synopsis "${synopsis}")
string(REPLACE " " "\\ " synopsis "${synopsis}")
string(REPLACE "@@" " " synopsis "${synopsis}")
set(text "${text}${synopsis}\n.YS${rest}")

# An option narrower than the indent would share its line with its text ("--fast send each
# request"): the text of every option starts on a line of its own.
string(REGEX REPLACE "\n\\.TP\n(\\\\fB\\\\-[^\n]*)\n" "\n.TP\n\\1\n.br\n" text "${text}")

if(DEFINED DROP)
  string(REPLACE "\n.PP\n${DROP}\n" "\n" dropped "${text}")
  if(dropped STREQUAL text)
    message(FATAL_ERROR "${PAGE}: no paragraph \"${DROP}\" to leave out")
  endif()
  set(text "${dropped}")
endif()

file(WRITE "${PAGE}" "${text}")
