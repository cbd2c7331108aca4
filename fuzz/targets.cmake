# The fuzz targets and the libraries each needs; used by fuzz/ (libFuzzer builds) and by
# tests/reliability (the replay of their corpora in every build).
set(TESSALY_FUZZ_TARGETS package_load iso_index archive_memory archive_stream archive_patch identify)
set(TESSALY_FUZZ_LIBS_package_load tessaly_package)
set(TESSALY_FUZZ_LIBS_iso_index tessaly_iso)
set(TESSALY_FUZZ_LIBS_archive_memory tessaly_archive)
set(TESSALY_FUZZ_LIBS_archive_stream tessaly_archive)
set(TESSALY_FUZZ_LIBS_archive_patch tessaly_archive)
set(TESSALY_FUZZ_LIBS_identify tessaly_iso)
set(TESSALY_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

# An executable of one target's entry function and `extra_sources` (a main, or none for libFuzzer's).
function(tessaly_fuzz_executable name target)
  add_executable(${name} ${TESSALY_FUZZ_DIR}/${target}_fuzzer.cpp ${ARGN})
  tessaly_target_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${TESSALY_FUZZ_LIBS_${target}})
endfunction()
