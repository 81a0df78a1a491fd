# vp_require_links(TARGET ALLOWED...): once every directory is configured,
# stop with an error if TARGET links, directly or through another library, a
# library of this project that is not ALLOWED. Libraries from outside the
# source tree (the system's, GoogleTest, found or built from its sources) are
# not checked.
include_guard(GLOBAL)

function(vp_check_links target top)
  get_target_property(links ${target} LINK_LIBRARIES)
  if(NOT links)
    return()
  endif()
  foreach(link IN LISTS links)
    if(NOT TARGET ${link})
      continue()
    endif()
    get_target_property(aliased ${link} ALIASED_TARGET)
    if(aliased)
      set(link ${aliased})
    endif()
    get_target_property(imported ${link} IMPORTED)
    get_target_property(folder ${link} SOURCE_DIR)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${folder}" NORMALIZE ours)
    if(imported OR NOT ours)
      continue()
    endif()
    if(NOT link IN_LIST ARGN)
      message(FATAL_ERROR "${top} must not link ${link} (linked by ${target})")
    endif()
    vp_check_links(${link} ${top} ${ARGN})
  endforeach()
endfunction()

# A deferred call reads its arguments when it runs, so the names are written
# into it now.
function(vp_require_links target)
  string(JOIN " " allowed ${ARGN})
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]] CALL vp_check_links ${target} ${target} ${allowed})")
endfunction()
