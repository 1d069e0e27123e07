# What a Windows cross build needs from the host: Wine to run the tests,
# GoogleTest built from Debian's sources with the cross compiler, and the
# header-only CLI11 and nlohmann-json (nothing else of the host's /usr/include).

find_program(ZLM_WINE wine REQUIRED)
set(ZLM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# The dialogs' font, as Wine ships it (Debian: fonts-wine); the test run puts
# it into the prefix, where Wine looks for it (tests/support/wine_session.sh).
set(ZLM_WINE_DIALOG_FONT /usr/share/wine/fonts/sserifer.fon)
if(NOT EXISTS ${ZLM_WINE_DIALOG_FONT})
  message(FATAL_ERROR "${ZLM_WINE_DIALOG_FONT} not found (Debian: fonts-wine)")
endif()
# Where wine-run mounts the host's /dev while it gives Wine a /dev without
# the host's serial lines.
set(ZLM_WINE_HOST_DEV ${CMAKE_BINARY_DIR}/wine-host-dev)
file(MAKE_DIRECTORY ${ZLM_WINE_HOST_DEV})
configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
# Every test program (and gtest's discovery) runs through it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

if(ZLM_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# CLI11 from Debian's libcli11-dev: its headers alone, copied so the cross
# compiler sees no other host header.
set(ZLM_CLI11_HEADERS /usr/include/CLI)
if(NOT EXISTS ${ZLM_CLI11_HEADERS}/CLI.hpp)
  message(FATAL_ERROR "CLI11 headers not found in ${ZLM_CLI11_HEADERS} (Debian: libcli11-dev)")
endif()
file(COPY ${ZLM_CLI11_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/cli11/include)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11/include)

# nlohmann-json from Debian's nlohmann-json3-dev, likewise header-only.
set(ZLM_NLOHMANN_HEADERS /usr/include/nlohmann)
if(NOT EXISTS ${ZLM_NLOHMANN_HEADERS}/json.hpp)
  message(FATAL_ERROR "nlohmann-json headers not found in ${ZLM_NLOHMANN_HEADERS} "
                      "(Debian: nlohmann-json3-dev)")
endif()
file(COPY ${ZLM_NLOHMANN_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/nlohmann_json/include)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM
                           INTERFACE ${CMAKE_BINARY_DIR}/nlohmann_json/include)
