# Flags shared by every target of the project.
add_library(pelk-flags INTERFACE)
target_compile_options(pelk-flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
  -fstack-protector-strong)
target_compile_definitions(pelk-flags INTERFACE
  QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER QT_NO_CONTEXTLESS_CONNECT
  QT_NO_FOREACH
  $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
target_link_options(pelk-flags INTERFACE -Wl,-z,relro -Wl,-z,now)
if(PELK_WERROR)
  target_compile_options(pelk-flags INTERFACE -Werror)
endif()

if(PELK_SANITIZE)
  target_compile_options(pelk-flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=undefined)
  target_link_options(pelk-flags INTERFACE -fsanitize=address,undefined)
endif()

if(PELK_FUZZ)
  # Everything the fuzzers link is instrumented for coverage, addresses and undefined behaviour.
  target_compile_options(pelk-flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(pelk-flags INTERFACE -fsanitize=address,undefined)
endif()
