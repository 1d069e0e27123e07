# Writes OUTPUT from the template TEMPLATE (configure_file, @ONLY) with the
# section made from the serial ports guide, read from SECTION, in place of
# @ZLM_SERIAL_PORTS@. A build step, because that section is itself made at
# build time. PROJECT_VERSION and ZLM_MAN_DATE come in as -D settings.
file(READ "${SECTION}" ZLM_SERIAL_PORTS)
string(STRIP "${ZLM_SERIAL_PORTS}" ZLM_SERIAL_PORTS)
# help2man reads a line "[NAME]" as the start of a section and a line
# "/regex/" as a pattern, so such a line would vanish from the page.
if(ZLM_SERIAL_PORTS MATCHES "(^|\n)(\\[[^]\n]+\\]|/[^\n]*/[ims]*)[ \t]*(\n|$)")
  message(FATAL_ERROR "${SECTION}: a line that help2man would take for its own: ${CMAKE_MATCH_2}")
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
