# The native 64-bit test build: Linux, 64-bit like the x86_64 Windows program, so that
# every structure the device layer builds has the layout it has in that program.
set(CMAKE_C_FLAGS_INIT "-m64")
set(CMAKE_CXX_FLAGS_INIT "-m64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m64")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m64")
