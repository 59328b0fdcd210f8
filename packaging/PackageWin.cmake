# Portable Windows zip: `cmake --build build-win --target package` makes
# Tavrin-<version>-win64.zip holding one folder: Tavrin.exe, tavrin-cli.exe,
# tavrin-sim.exe, the README with the guides in docs/, the Qt and MinGW
# runtime DLLs the programs need (found by reading their imports, nothing
# else), the Windows platform plugin and the Windows Vista style. Tavrin.ini is written beside Tavrin.exe at first close.
install(TARGETS Tavrin tavrin-cli tavrin-sim RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES
  ${PROJECT_SOURCE_DIR}/docs/user-guide.md
  ${PROJECT_SOURCE_DIR}/docs/command-line.md
  ${PROJECT_SOURCE_DIR}/docs/developer-guide.md
  ${PROJECT_SOURCE_DIR}/docs/simulator.md
  DESTINATION docs)

get_target_property(_qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT _qt_core_dll)
  get_target_property(_qt_core_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(TAVRIN_QT_BIN "${_qt_core_dll}" DIRECTORY)
get_filename_component(TAVRIN_QT_PREFIX "${TAVRIN_QT_BIN}" DIRECTORY)
set(TAVRIN_QT_PLUGINS ${TAVRIN_QT_PREFIX}/plugins)
install(FILES ${TAVRIN_QT_PLUGINS}/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${TAVRIN_QT_PLUGINS}/styles/qwindowsvistastyle.dll DESTINATION styles)

# The compiler's runtime (libstdc++, libgcc, winpthread) lies beside the
# cross compiler, the Qt DLLs in the Qt prefix.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_gcc_dir "${_libgcc}" DIRECTORY)
find_program(TAVRIN_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
list(GET CMAKE_FIND_ROOT_PATH 0 _mingw_root)
set(TAVRIN_DLL_DIRS "\"${TAVRIN_QT_BIN}\" \"${_gcc_dir}\" \"${_mingw_root}/lib\"")
# The same folders for programs run from the build folder under wine (the
# test suites): wine maps the root of this file system to drive Z:.
set(TAVRIN_WINEPATH "Z:${TAVRIN_QT_BIN};Z:${_gcc_dir};Z:${_mingw_root}/lib")

configure_file(${CMAKE_CURRENT_LIST_DIR}/WinRuntime.cmake.in
  ${CMAKE_BINARY_DIR}/WinRuntime.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/WinRuntime.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tavrin)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(TAVRIN_PACKAGE_FILE ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.zip)
include(CPack)
