# Cross-compiles for the board: 32-bit ARM, hard float, Debian 12.
# Libraries and headers come from an armhf sysroot (scripts/cross-armhf.sh
# makes one under build-armhf/sysroot and passes it as CMAKE_SYSROOT).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

if(NOT CMAKE_SYSROOT)
  set(CMAKE_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-armhf/sysroot")
endif()

# Build tools run here, so they are the host's; everything linked into the
# program comes from the sysroot only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot's moc is an ARM program. Qt's CMake package keeps an existing
# Qt5::moc target, so defining it first makes AUTOMOC run the host's moc,
# which generates the same code for the same Qt version.
find_program(BREV_HOST_MOC NAMES moc PATHS /usr/lib/qt5/bin NO_DEFAULT_PATH)
if(BREV_HOST_MOC AND NOT TARGET Qt5::moc)
  add_executable(Qt5::moc IMPORTED)
  set_target_properties(Qt5::moc PROPERTIES IMPORTED_LOCATION "${BREV_HOST_MOC}")
endif()
