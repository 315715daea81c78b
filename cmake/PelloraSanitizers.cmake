# PELLORA_SANITIZE=address,undefined or thread applies to every target of the build.
if(PELLORA_SANITIZE)
  set(_san_flags -fsanitize=${PELLORA_SANITIZE} -fno-omit-frame-pointer)
  if(PELLORA_SANITIZE MATCHES "undefined")
    list(APPEND _san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(-fsanitize=${PELLORA_SANITIZE})
endif()
if(PELLORA_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # g++ flags each atomic_thread_fence that asio's handler and reference-count code
  # inlines; our own cross-thread hand-offs go through mutexes and atomics.
  add_compile_options(-Wno-tsan)
endif()
