# One interface target carries the language level and the warnings for everything we build.
add_library(ravelin_options INTERFACE)
target_compile_features(ravelin_options INTERFACE cxx_std_20)
target_compile_options(ravelin_options INTERFACE -Wall -Wextra -Wpedantic
                                                 $<$<CONFIG:Debug>:-D_GLIBCXX_ASSERTIONS>)
