# Sanitizers apply to the whole native tree so that the libraries under test are
# instrumented too, not only the test executables.
if(VP_SANITIZE AND VP_TSAN)
  message(FATAL_ERROR "VP_SANITIZE and VP_TSAN cannot be combined")
endif()
if(VP_SANITIZE)
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "the sanitizers are for the native tree only")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VP_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
# A fuzzing tree instruments everything for coverage as well; the fuzz
# targets add libFuzzer's own main.
if(VP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VP_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
