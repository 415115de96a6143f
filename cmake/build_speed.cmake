# What makes a build from an empty cache, and a second clone's build, fast.

# ccache: paths under the source folder are hashed relative to it, and the build folder is
# left out of the hash of a -g compile (its objects then name the first clone's folder in
# their debug information), so a clone in another folder hits the entries another clone
# wrote. The precompiled headers are built in the same run that uses them and hold no macros
# ccache can see, hence the sloppiness.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${CCACHE_PROGRAM})
endif()

# lld links the large sanitizer-instrumented test programs several times faster than ld.bfd.
option(RAVELIN_LLD "Link with lld when the compiler accepts -fuse-ld=lld" ON)
if(RAVELIN_LLD)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld RAVELIN_HAVE_LLD)
  if(RAVELIN_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

# Precompiled headers for what most files of a target include: the standard library,
# GoogleTest, CLI11, nlohmann-json, Qt. ravelin_precompile(TARGET HEADER...) builds one;
# ravelin_reuse_precompiled(TARGET FROM) shares it with a target compiled with the same flags.
option(RAVELIN_PCH "Use precompiled headers" ON)
set(RAVELIN_PCH_STD <algorithm> <array> <cstdint> <cstring> <functional> <memory> <optional>
                    <string> <string_view> <utility> <vector>)

function(ravelin_precompile target)
  if(RAVELIN_PCH)
    target_precompile_headers(${target} PRIVATE ${ARGN})
    ravelin_pch_options(${target})
  endif()
endfunction()

function(ravelin_reuse_precompiled target from)
  if(RAVELIN_PCH)
    target_precompile_headers(${target} REUSE_FROM ${from})
    ravelin_pch_options(${target})
  endif()
endfunction()

# clang refuses a precompiled header whose inputs carry other times than when it was built,
# which is every header ccache hands back from another clone.
function(ravelin_pch_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Xclang -fno-pch-timestamp)
  endif()
endfunction()
