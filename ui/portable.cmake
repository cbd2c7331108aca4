# The window's logic that needs no window: built for every platform so that its tests also run
# natively. Included from ui/CMakeLists.txt (Windows) or tests/ui/CMakeLists.txt (elsewhere).

# The pages that the picture's two link areas open (the third has no area). The release sets
# them; the defaults are the project site's pages.
set(TESSALY_SITE "https://tessaly.github.io" CACHE STRING "The project's web site")
set(TESSALY_PAGE_GENERAL_BOARD "${TESSALY_SITE}/board/" CACHE STRING
    "Page of the picture's first link area: the general discussion board")
set(TESSALY_PAGE_GAME_BOARD "${TESSALY_SITE}/board/quillmoor-2/" CACHE STRING
    "Page of the picture's second link area: the game's discussion board")
set(TESSALY_PAGE_FORUM "${TESSALY_SITE}/forum/" CACHE STRING
    "Page of the table's third link, which has no area and is never opened")
foreach(page TESSALY_PAGE_GENERAL_BOARD TESSALY_PAGE_GAME_BOARD TESSALY_PAGE_FORUM)
  # They become C string literals: no quotes, backslashes or control characters.
  if(NOT "${${page}}" MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:[^\"\\\\ ]+$")
    message(FATAL_ERROR "${page} is not a web address: '${${page}}'")
  endif()
endforeach()
set(_tessaly_ui_generated ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/ui/link_pages.h.in ${_tessaly_ui_generated}/ui/link_pages.h @ONLY)

set(_tessaly_ui_portable_sources
  ${PROJECT_SOURCE_DIR}/ui/hot_spot.cpp
  ${PROJECT_SOURCE_DIR}/ui/version_text.cpp
  ${PROJECT_SOURCE_DIR}/ui/message_catalogue.cpp
  ${PROJECT_SOURCE_DIR}/ui/progress_report.cpp
  ${PROJECT_SOURCE_DIR}/ui/output_choice.cpp)
if(WIN32)
  list(APPEND _tessaly_ui_portable_sources ${PROJECT_SOURCE_DIR}/ui/message_catalogue_win32.cpp)
else()
  list(APPEND _tessaly_ui_portable_sources ${PROJECT_SOURCE_DIR}/ui/message_catalogue_builtin.cpp)
endif()
tessaly_library(tessaly_ui_portable ${_tessaly_ui_portable_sources})
target_include_directories(tessaly_ui_portable PUBLIC ${_tessaly_ui_generated})
target_link_libraries(tessaly_ui_portable PUBLIC tessaly_platform tessaly_messages)
