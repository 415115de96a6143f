# One interface target carries the language level and the warnings for everything we build.
add_library(ravelin_options INTERFACE)
target_compile_features(ravelin_options INTERFACE cxx_std_20)
target_compile_options(ravelin_options INTERFACE -Wall -Wextra -Wpedantic
                                                 $<$<CONFIG:Debug>:-D_GLIBCXX_ASSERTIONS>)
# GCC 12 warns -Wrestrict on a std::string assigned from a literal once optimised (its bug
# 105329): every such warning here is that one, so it is off for GCC before 13.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(ravelin_options INTERFACE -Wno-restrict)
endif()
