# Writes the Debian changelog from CHANGELOG.md, so that the two never disagree: each
# "## VERSION (YYYY-MM-DD)" heading becomes an entry signed by the maintainer on that day, each
# "- " line a "  * " item, and its indented further lines stay under the item.
# Q218_DebianChangelog(<CHANGELOG.md> <package source name> <maintainer> <output file>)
function(Q218_DebianChangelog input source maintainer output)
    file(STRINGS ${input} lines)
    set(text "")
    set(entry "")
    set(signature "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^## ([0-9.]+) \\(([0-9-]+)\\)$")
            set(version ${CMAKE_MATCH_1})
            execute_process(COMMAND date -u -R -d ${CMAKE_MATCH_2}
                            OUTPUT_VARIABLE day OUTPUT_STRIP_TRAILING_WHITESPACE
                            COMMAND_ERROR_IS_FATAL ANY)
            string(APPEND text "${signature}${source} (${version}) unstable; urgency=medium\n\n")
            set(signature "\n -- ${maintainer}  ${day}\n\n")
            set(entry on)
        elseif(entry AND line MATCHES "^- (.*)")
            string(APPEND text "  * ${CMAKE_MATCH_1}\n")
        elseif(entry AND line MATCHES "^  (.*)")
            string(APPEND text "    ${CMAKE_MATCH_1}\n")
        endif()
    endforeach()
    if(NOT signature)
        message(FATAL_ERROR "${input}: no entry '## VERSION (YYYY-MM-DD)'")
    endif()
    string(REGEX REPLACE "\n\n$" "\n" signature "${signature}")
    # Written only when it changes: the compressed copy is not made again at every configure.
    file(WRITE ${output}.new "${text}${signature}")
    file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()
