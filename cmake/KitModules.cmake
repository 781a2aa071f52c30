# kit_module(TARGET NAME SOURCES...): a shared library that the kit loads (or links) by its
# Windows file name NAME.dll. On POSIX the file is libNAME.so, the platform layer's mapping.
function(kit_module target name)
    add_library(${target} SHARED ${ARGN})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    if(WIN32)
        set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
endfunction()
