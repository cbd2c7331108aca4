# Warnings are errors in our own targets; third-party code (googletest) is built without them.
function(tessaly_target_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor
    -Woverloaded-virtual -Wimplicit-fallthrough -Wcast-qual)
endfunction()

# A static library of our own with its folder's include root.
function(tessaly_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  tessaly_target_warnings(${name})
endfunction()
