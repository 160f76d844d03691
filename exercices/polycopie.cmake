cmake_minimum_required(VERSION 3.25)
# Sets exercises' statements (Markdown) in one A4 PDF, an exercise a page or
# more, with polycopie.tmac's French typography:
#
#   cmake -DLOWDOWN=... -DGROFF=... -DSORTIE=x.pdf -P polycopie.cmake a.md...
#
# lowdown turns each statement into groff's ms macros; the code in it is
# then set in a fixed font with spaces that never break a line, blocks of
# code a little smaller, so that 80 columns fit on the line; groff makes the
# PDF and any warning of its own fails the build.
get_filename_component(ici ${CMAKE_SCRIPT_MODE_FILE} DIRECTORY)
file(READ ${ici}/polycopie.tmac ms)
set(premier ON)
foreach(n RANGE 1 ${CMAKE_ARGC})
  set(enonce "${CMAKE_ARGV${n}}")
  if(NOT enonce MATCHES "\\.md$")
    continue()
  endif()
  execute_process(COMMAND ${LOWDOWN} -Tms --nroff-no-groff --nroff-no-numbered ${enonce}
                  OUTPUT_VARIABLE texte COMMAND_ERROR_IS_FATAL ANY)
  # Typographic signs in groff's own spelling (lowdown writes the newer one).
  string(REGEX REPLACE "\\\\U'([0-9A-Fa-f]+)'" "\\\\[u\\1]" texte "${texte}")
  # The first heading is the exercise's title: larger, on a new page.
  string(REGEX REPLACE "^\\.SH\n" ".SH\n.ps +4\n" texte "${texte}")
  if(NOT premier)
    string(PREPEND texte ".bp\n")
  endif()
  set(premier OFF)
  # Code blocks: a point smaller, indented.
  string(REPLACE ".nf\n.ft CR\n" ".nf\n.ft CR\n.ps -2\n.in +0.5c\n" texte "${texte}")
  string(REPLACE ".ft\n.fi\n" ".in\n.ps\n.ft\n.fi\n" texte "${texte}")
  # Code within a sentence: a point smaller, its spaces never break the line.
  # (Newer lowdown writes its font as \f(CR, older as \fC.)
  string(REPLACE "\\f(CR" "\\fC" texte "${texte}")
  set(fait "")
  while(TRUE)
    string(FIND "${texte}" "\\fC" debut)
    if(debut EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${texte}" 0 ${debut} avant)
    string(SUBSTRING "${texte}" ${debut} -1 texte)
    string(FIND "${texte}" "\\fR" fin)
    string(SUBSTRING "${texte}" 0 ${fin} code)
    string(SUBSTRING "${texte}" ${fin} -1 texte)
    string(REPLACE " " "\\ " code "${code}")
    string(APPEND fait "${avant}\\s-1${code}")
    string(SUBSTRING "${texte}" 3 -1 texte)
    string(APPEND fait "\\fR\\s+1")
  endwhile()
  string(APPEND ms "${fait}${texte}")
endforeach()

file(WRITE ${SORTIE}.ms "${ms}")
execute_process(COMMAND ${GROFF} -k -ms -ww -Tpdf -dpaper=a4 -P-pa4 ${SORTIE}.ms
                OUTPUT_FILE ${SORTIE} ERROR_VARIABLE avertissements
                COMMAND_ERROR_IS_FATAL ANY)
# Without Perl's Compress::Zlib (a minbase Debian 13 has perl-base alone),
# gropdf writes the PDF uncompressed and says so: the page is the same.
string(REGEX REPLACE "[^\n]*(Compress::Zlib|compress this [Pp][Dd][Ff])[^\n]*\n?" ""
       avertissements "${avertissements}")
string(STRIP "${avertissements}" avertissements)
if(avertissements)
  file(REMOVE ${SORTIE})
  message(FATAL_ERROR "groff, setting ${SORTIE}:\n${avertissements}")
endif()
