# VARNHOLT_SANITIZER=thread      ThreadSanitizer
# VARNHOLT_SANITIZER=address     AddressSanitizer with UndefinedBehaviorSanitizer
if(VARNHOLT_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=thread)
elseif(VARNHOLT_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT VARNHOLT_SANITIZER STREQUAL "")
    message(FATAL_ERROR "Unknown VARNHOLT_SANITIZER '${VARNHOLT_SANITIZER}'")
endif()
