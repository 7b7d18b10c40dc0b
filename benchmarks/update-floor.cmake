# The update benchmark's marks (benchmarks/update-benchmark.sh, patch-wine-benchmark.sh): a Windows program
# run under the same Wine as the updater, its decoders and digest built -O2 whatever the build type (the
# benchmark's speed), and once more built -Os, as the size-optimised updater builds them.
# The updater's check of its own file is built -Os in both, as the updater builds it (source options follow
# the target's on the command line).
set_source_files_properties(${PROJECT_SOURCE_DIR}/app/program_check.cpp PROPERTIES COMPILE_OPTIONS -Os)
foreach(variant update_floor update_floor_os)
  add_executable(${variant} ${PROJECT_SOURCE_DIR}/benchmarks/update_floor.cpp
    ${PROJECT_SOURCE_DIR}/archive/stream_decoder.cpp ${PROJECT_SOURCE_DIR}/app/program_check.cpp
    ${PROJECT_SOURCE_DIR}/archive/patch_decoder.cpp ${PROJECT_SOURCE_DIR}/archive/content_digest.cpp)
  target_include_directories(${variant} PRIVATE ${PROJECT_SOURCE_DIR})
endforeach()
target_compile_options(update_floor PRIVATE -O2)
target_compile_options(update_floor_os PRIVATE -Os)
