# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUARVEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARVEL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUARVEL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUARVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Nothing beyond SSE2, which every processor that runs Windows 7 has.
set(CMAKE_C_FLAGS_INIT "-march=pentium4 -mtune=generic -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-march=pentium4 -mtune=generic -mfpmath=sse")
# One self-contained file: no MinGW runtime DLL, symbols stripped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")
