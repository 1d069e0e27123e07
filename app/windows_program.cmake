# zlm-reader.exe: a GUI program with its resources compiled by windres from a
# script generated here; both programs packed as an installer and a zip.
enable_language(RC)

# The resource ids, taken from the header the dialogs use.
file(STRINGS ${PROJECT_SOURCE_DIR}/ui/resource.h zlm_id_lines
     REGEX "^inline constexpr [a-z]+ ID[A-Z_]+ = [0-9a-fA-Fx]+;")
set(ZLM_RC_IDS "")
foreach(line IN LISTS zlm_id_lines)
  string(REGEX REPLACE "^inline constexpr [a-z]+ (ID[A-Z_]+) = ([0-9a-fA-Fx]+);.*" "#define \\1 \\2"
         define "${line}")
  string(APPEND ZLM_RC_IDS "${define}\n")
endforeach()
configure_file(zlm-reader.rc.in ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.rc PROPERTIES
  OBJECT_DEPENDS ${ZLM_ICON_FILE})

# The application object and the program's resources, also linked into the
# tests that run the program's windows.
add_library(zlm_app OBJECT
  reader_app.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.rc)
target_include_directories(zlm_app PUBLIC
  ${PROJECT_SOURCE_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(zlm_app PUBLIC zlm_ui zlm_serial)
add_dependencies(zlm_app zlm_reader_icons)

add_executable(zlm-reader WIN32 main_windows.cpp)
target_link_libraries(zlm-reader PRIVATE zlm_app)
install(TARGETS zlm-reader RUNTIME DESTINATION .)

# ---- Installer and zip ------------------------------------------------------------
find_program(ZLM_MAKENSIS makensis REQUIRED)
set(ZLM_INSTALLER ${PROJECT_BINARY_DIR}/zlm-reader-${PROJECT_VERSION}-setup.exe CACHE INTERNAL "The Windows installer")
set(ZLM_ZIP ${PROJECT_BINARY_DIR}/zlm-reader-${PROJECT_VERSION}-windows.zip CACHE INTERNAL "The zip of the Windows programs")
set(ZLM_READER_EXE $<TARGET_FILE:zlm-reader>)
set(ZLM_READ_EXE $<TARGET_FILE:zlm-read>)
configure_file(zlm-reader.nsi.in ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.nsi.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.nsi
     INPUT ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.nsi.in)
add_custom_command(
  OUTPUT ${ZLM_INSTALLER}
  COMMAND ${ZLM_MAKENSIS} -V2 -NOCD ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.nsi
  DEPENDS zlm-reader zlm-read ${CMAKE_CURRENT_BINARY_DIR}/zlm-reader.nsi
  COMMENT "Building the installer ${ZLM_INSTALLER}"
  VERBATIM)
set(zlm_zip_dir ${CMAKE_CURRENT_BINARY_DIR}/zip)
add_custom_command(
  OUTPUT ${ZLM_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zlm_zip_dir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zlm_zip_dir}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zlm-reader> $<TARGET_FILE:zlm-read> ${zlm_zip_dir}
  COMMAND ${CMAKE_COMMAND} -E chdir ${zlm_zip_dir}
          ${CMAKE_COMMAND} -E tar cf ${ZLM_ZIP} --format=zip zlm-reader.exe zlm-read.exe
  DEPENDS zlm-reader zlm-read
  COMMENT "Packing ${ZLM_ZIP}"
  VERBATIM)
add_custom_target(zlm_reader_packages ALL DEPENDS ${ZLM_INSTALLER} ${ZLM_ZIP})
