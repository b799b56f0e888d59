# Cross toolchain for MinGW-w64. TOLV_ARCH selects i686 (the shipped
# programs) or x86_64 (only for running the tests where the host cannot run
# 32-bit Wine).
if(NOT DEFINED TOLV_ARCH)
  set(TOLV_ARCH i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOLV_ARCH})
set(TOLV_TRIPLE ${TOLV_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLV_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOLV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(DEFINED TOLV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
