# qorv_program(NAME [WIN32] [DIR folder] SOURCES...): a program of the
# project, written into folder (the build folder when not given). On
# Windows its entry point is the wide one (wmain or wWinMain); WIN32 makes
# it a GUI program there.
function(qorv_program name)
    cmake_parse_arguments(PROGRAM "WIN32" "DIR" "" ${ARGN})
    set(kind)
    if(PROGRAM_WIN32)
        set(kind WIN32)
    endif()
    add_executable(${name} ${kind} ${PROGRAM_UNPARSED_ARGUMENTS})
    if(WIN32)
        target_link_options(${name} PRIVATE -municode)
    endif()
    if(NOT PROGRAM_DIR)
        set(PROGRAM_DIR ${CMAKE_BINARY_DIR})
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROGRAM_DIR})
endfunction()
