# Cross-compiles for 64-bit Windows with Clang and LLD over the same MinGW-w64
# headers, import libraries and posix-thread libstdc++ that the GCC build
# (mingw-w64-x86_64.cmake) uses: a second compiler on the same code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
# The delay-import test library is made with GNU dlltool's --output-delaylib.
set(CMAKE_DLLTOOL      ${TOOLCHAIN_PREFIX}-dlltool)
set(CMAKE_AR           ${TOOLCHAIN_PREFIX}-ar)
set(CMAKE_RANLIB       ${TOOLCHAIN_PREFIX}-ranlib)

# The sysroot keeps the build host's /usr/include out of the search path.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Clang does not find Debian's "12-posix" GCC folder by itself: name its C++
# headers and its libraries (libstdc++, libgcc, libgcc_eh).
file(GLOB tarnwick_mingw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
list(SORT tarnwick_mingw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET tarnwick_mingw_gcc_dirs 0 tarnwick_mingw_gcc_dir)
if(NOT EXISTS "${tarnwick_mingw_gcc_dir}/include/c++")
  message(FATAL_ERROR "No posix-thread MinGW-w64 GCC under /usr/lib/gcc/${TOOLCHAIN_PREFIX} "
                      "(scripts/bootstrap.sh installs g++-mingw-w64-x86-64-posix)")
endif()
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${tarnwick_mingw_gcc_dir}/include/c++
  ${tarnwick_mingw_gcc_dir}/include/c++/${TOOLCHAIN_PREFIX}
  ${tarnwick_mingw_gcc_dir}/include/c++/backward)

# MinGW-w64 GCC keeps thread_local variables in emulated TLS, and libstdc++
# reaches its own that way (std::call_once): Clang must do the same.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls")

# Every executable runs without MinGW's runtime DLLs. The posix thread model
# of libstdc++ needs winpthreads, which GCC's driver adds and Clang's does not;
# LLD finds an archive's symbols wherever it stands on the command line.
set(tarnwick_clang_link_flags "-fuse-ld=lld -L${tarnwick_mingw_gcc_dir} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${tarnwick_clang_link_flags} -static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${tarnwick_clang_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${tarnwick_clang_link_flags}")
