# Portable package: `cmake --build build --target package` makes
# Tavrin-<version>-Linux-<arch>.tar.gz holding one folder. The program runs
# from that folder against the system's Qt 6 and keeps Tavrin.ini beside
# itself, so nothing is installed system-wide.
install(TARGETS Tavrin tavrin-cli tavrin-sim RUNTIME DESTINATION .)
install(FILES
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/packaging/tavrin.desktop
  ${PROJECT_SOURCE_DIR}/src/res/tavrin.png
  ${PROJECT_SOURCE_DIR}/src/res/tavrin.svg
  DESTINATION .)
# The guides the README links to, in the same relative place.
install(FILES
  ${PROJECT_SOURCE_DIR}/docs/user-guide.md
  ${PROJECT_SOURCE_DIR}/docs/command-line.md
  ${PROJECT_SOURCE_DIR}/docs/developer-guide.md
  ${PROJECT_SOURCE_DIR}/docs/simulator.md
  DESTINATION docs)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME Tavrin)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
# The file the package tests look for (CPack's module reuses the variable).
set(TAVRIN_PACKAGE_FILE ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.tar.gz)
include(CPack)
