# 64-bit Windows, for running the Windows tests under Wine on a host that
# cannot run 32-bit code.
set(ORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
