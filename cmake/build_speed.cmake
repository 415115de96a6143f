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

# Unity builds: the files of a target compiled a few at a time as one, so the templates and
# inline functions of the headers they share (CLI11, nlohmann-json, GoogleTest, Qt, the
# standard library) are instantiated, instrumented and optimised once per batch rather than
# once per file. For the trees scripts/test builds once from scratch; a tree that is edited
# and rebuilt a file at a time (debug) is better without.
# CMake's own unity files name their sources by absolute paths, which would make every
# clone's compiles differ for ccache; ravelin_unity(TARGET) writes them with paths relative to
# the build folder instead, so clones in other folders still share the cache. A target's
# C++ sources with SKIP_UNITY_BUILD_INCLUSION set are compiled on their own.
option(RAVELIN_UNITY "Compile the files of each target in batches" OFF)
set(RAVELIN_UNITY_BATCH 8 CACHE STRING "Files per unity batch")

function(ravelin_unity target)
  if(NOT RAVELIN_UNITY)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(unity_dir ${CMAKE_CURRENT_BINARY_DIR}/unity/${target})
  set(batch)
  set(index 0)
  foreach(source IN LISTS sources ITEMS "")
    if(source MATCHES "\\.cpp$")
      get_source_file_property(skip ${source} SKIP_UNITY_BUILD_INCLUSION)
      if(NOT skip)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE)
        list(APPEND batch ${source})
      endif()
    endif()
    list(LENGTH batch size)
    if(size GREATER 0 AND (size EQUAL RAVELIN_UNITY_BATCH OR source STREQUAL ""))
      set(content "")
      foreach(file IN LISTS batch)
        cmake_path(RELATIVE_PATH file BASE_DIRECTORY ${unity_dir})
        string(APPEND content "#include \"${file}\"\n")
      endforeach()
      # Written only when the list changes, so a reconfigure rebuilds nothing.
      file(CONFIGURE OUTPUT ${unity_dir}/unity_${index}.cpp CONTENT "${content}")
      target_sources(${target} PRIVATE ${unity_dir}/unity_${index}.cpp)
      set_source_files_properties(${batch} PROPERTIES HEADER_FILE_ONLY ON)
      math(EXPR index "${index} + 1")
      set(batch)
    endif()
  endforeach()
endfunction()

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
