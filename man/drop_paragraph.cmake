# Removes from the manual page PAGE the paragraph that begins with LEAD: a
# paragraph of the program's --help that the page gives in a section of its
# own. Fails when there is no such paragraph, so that a reworded --help
# cannot bring the text back twice unnoticed.
file(READ "${PAGE}" page)
# A paragraph of help2man's runs from its .PP to the next request line.
string(REGEX REPLACE "\n\\.PP\n${LEAD}[^\n]*(\n[^.][^\n]*)*" "" trimmed "${page}")
if(trimmed STREQUAL page)
  message(FATAL_ERROR "${PAGE}: no paragraph that begins with \"${LEAD}\"")
endif()
file(WRITE "${PAGE}" "${trimmed}")
