# Every target of the project is built with the same warnings.
function(vp_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                           -Wcast-align -Wunused -Woverloaded-virtual)
  if(VP_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
