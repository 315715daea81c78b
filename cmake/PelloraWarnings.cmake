# Warnings for our own targets; outside headers are included as SYSTEM so they stay quiet.
function(pellora_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety -Werror=thread-safety)
  endif()
endfunction()
