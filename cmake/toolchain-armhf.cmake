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

# The sysroot's Qt tools are ARM programs. Qt's CMake packages keep existing
# tool targets, so defining them first makes the build run the host's moc
# (AUTOMOC), rcc (AUTORCC) and qdbusxml2cpp (the services' proxies), which
# generate the same code for the same Qt version.
foreach(_tool moc rcc qdbusxml2cpp)
  find_program(BREV_HOST_${_tool} NAMES ${_tool} PATHS /usr/lib/qt5/bin NO_DEFAULT_PATH)
  if(BREV_HOST_${_tool} AND NOT TARGET Qt5::${_tool})
    add_executable(Qt5::${_tool} IMPORTED)
    set_target_properties(Qt5::${_tool} PROPERTIES IMPORTED_LOCATION "${BREV_HOST_${_tool}}")
  endif()
endforeach()
