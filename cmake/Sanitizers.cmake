# ZQ_SANITIZE=address,undefined or ZQ_SANITIZE=thread instruments the whole build.
if(ZQ_SANITIZE)
    add_compile_options(-fsanitize=${ZQ_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${ZQ_SANITIZE})
    if(ZQ_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
