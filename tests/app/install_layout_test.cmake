# Installs the build into a staging directory and checks what a desktop
# needs of the program: the binary, the desktop entry and the icon theme
# PNGs at their sizes.
#   cmake -DBUILD_DIR=... -DSTAGE=... -P install_layout_test.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(
  COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${STAGE}/usr"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(prefix "${STAGE}/usr")
if(NOT EXISTS "${prefix}/bin/zlm-reader" OR IS_DIRECTORY "${prefix}/bin/zlm-reader")
  message(FATAL_ERROR "no bin/zlm-reader")
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
