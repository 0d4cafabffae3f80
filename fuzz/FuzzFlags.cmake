# Instruments the whole build for libFuzzer: every library gets coverage and the address and
# undefined-behaviour sanitizers, so a target sees inside the code it drives. Included before
# the layers are added; the fuzz targets themselves link with -fsanitize=fuzzer.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZQ_FUZZ needs clang (configure with CC=clang CXX=clang++); "
                        "found ${CMAKE_CXX_COMPILER_ID}")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
