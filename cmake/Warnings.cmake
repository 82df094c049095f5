# Warnings for the project's own sources only; JUCE's module sources compiled into the
# same targets keep their own settings.
function(varnholt_warnings target)
    get_target_property(sources ${target} SOURCES)
    foreach(src IN LISTS sources)
        if(NOT src MATCHES "^/usr/")
            set_property(SOURCE ${src} APPEND PROPERTY COMPILE_OPTIONS -Wall -Wextra -Wno-unused-parameter)
        endif()
    endforeach()
endfunction()
