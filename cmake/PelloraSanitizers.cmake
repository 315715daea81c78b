# PELLORA_SANITIZE=address,undefined or thread applies to every target of the build.
if(PELLORA_SANITIZE)
  set(_san_flags -fsanitize=${PELLORA_SANITIZE} -fno-omit-frame-pointer)
  if(PELLORA_SANITIZE MATCHES "undefined")
    list(APPEND _san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(-fsanitize=${PELLORA_SANITIZE})
endif()
