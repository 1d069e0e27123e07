# Installs the build into a staging directory and checks what a desktop
# needs of the program: the binaries, the desktop entry, the icon theme
# PNGs at their sizes, the service unit, and the manual pages when they are
# built. Whatever the build was configured with, nothing is written outside
# STAGE: the install runs with --prefix STAGE/usr and, for destinations
# given as absolute paths, DESTDIR=STAGE/root.
#   cmake -DBUILD_DIR=... -DSTAGE=... -DUNIT_DIR=... [-DMAN=ON] -P install_layout_test.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}/root
          ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${STAGE}/usr"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

# With DESTDIR, CMake puts even the prefix below it.
set(prefix "${STAGE}/root${STAGE}/usr")
if(NOT IS_DIRECTORY "${prefix}")
  message(FATAL_ERROR "nothing installed below ${prefix}")
endif()
foreach(program zlm-reader zlm-read zlm-meter-sim)
  if(NOT EXISTS "${prefix}/bin/${program}" OR IS_DIRECTORY "${prefix}/bin/${program}")
    message(FATAL_ERROR "no bin/${program}")
  endif()
  if(MAN)
    set(page "${prefix}/share/man/man1/${program}.1")
    if(NOT EXISTS "${page}")
      message(FATAL_ERROR "no manual page ${program}(1)")
    endif()
    file(READ "${page}" content)
    string(TOUPPER "${program}" title)
    string(FIND "\n${content}" "\n.TH ${title} " at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${page} has no page title ${title}")
    endif()
  endif()
endforeach()

# The service unit, below the prefix unless the build was told an absolute
# place, naming the program the configured prefix gives.
if(IS_ABSOLUTE "${UNIT_DIR}")
  set(unit "${STAGE}/root${UNIT_DIR}/zlm-read@.service")
else()
  set(unit "${prefix}/${UNIT_DIR}/zlm-read@.service")
endif()
if(NOT EXISTS "${unit}")
  message(FATAL_ERROR "no systemd unit ${unit}")
endif()
file(READ "${unit}" content)
string(REGEX MATCH "\nExecStart=/[^ ]*/zlm-read \\$ZLM_READ_OPTIONS\n" at "${content}")
if(NOT at)
  message(FATAL_ERROR "${unit} does not start zlm-read with $ZLM_READ_OPTIONS")
endif()

set(entry "${prefix}/share/applications/zlm-reader.desktop")
if(NOT EXISTS "${entry}")
  message(FATAL_ERROR "no desktop entry")
endif()
file(READ "${entry}" content)
foreach(wanted "[Desktop Entry]" "Type=Application" "Name=ZLM Reader" "Name[ru]=" "Comment="
               "Exec=zlm-reader" "Icon=zlm-reader" "Categories=Utility"
               "X-Version-FileDescription=Tellap1 MFC Application")
  string(FIND "\n${content}" "\n${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "desktop entry lacks a line \"${wanted}...\"")
  endif()
endforeach()

foreach(size 16 32)
  set(png "${prefix}/share/icons/hicolor/${size}x${size}/apps/zlm-reader.png")
  if(NOT EXISTS "${png}")
    message(FATAL_ERROR "no ${size}x${size} icon")
  endif()
  # The PNG header: width and height, big-endian, from byte 16.
  file(READ "${png}" header OFFSET 16 LIMIT 8 HEX)
  math(EXPR want "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${want}" 2 -1 digits)
  string(LENGTH "${digits}" length)
  math(EXPR padding "8 - ${length}")
  string(REPEAT "0" ${padding} zeros)
  if(NOT header STREQUAL "${zeros}${digits}${zeros}${digits}")
    message(FATAL_ERROR "${png} is not ${size}x${size}: ${header}")
  endif()
endforeach()
