# Cross build for 32-bit Windows with the i686 MinGW-w64 compiler
# (Debian: g++-mingw-w64-i686). The posix-threads flavour of the compiler
# is used because the engine relies on std::mutex; everything is linked
# statically, so the programs import only system DLLs.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
#         -DSCRUTOR_TESTS=OFF -DSCRUTOR_TOOLS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(SCRUTOR_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${SCRUTOR_MINGW_PREFIX}-gcc-posix ${SCRUTOR_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${SCRUTOR_MINGW_PREFIX}-g++-posix ${SCRUTOR_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${SCRUTOR_MINGW_PREFIX}-windres)
find_program(CMAKE_AR NAMES ${SCRUTOR_MINGW_PREFIX}-gcc-ar-posix ${SCRUTOR_MINGW_PREFIX}-ar)
find_program(CMAKE_RANLIB NAMES ${SCRUTOR_MINGW_PREFIX}-gcc-ranlib-posix ${SCRUTOR_MINGW_PREFIX}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${SCRUTOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows Vista is the oldest target: the file layer uses its API.
add_compile_definitions(_WIN32_WINNT=0x0600 WIN32_LEAN_AND_MEAN NOMINMAX)

# The C and C++ runtimes and the thread library go into every program and
# DLL, so nothing but the system's own DLLs is needed beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
