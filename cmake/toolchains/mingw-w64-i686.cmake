# Cross-build for 32-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-i686).
#   cmake -S . -B build/win32 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake -DCHIPREADER_BUILD_UI=OFF
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
