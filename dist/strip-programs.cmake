# Run by CPack on the staged files before it packs them: the programs lose their symbols
# and the sections nothing reads at run time (.comment, .note), as Debian's own packages do.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${program}
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
