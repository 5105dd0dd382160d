# Renders an SVG icon into square PNGs at build time with rsvg-convert, a host
# tool (librsvg2-bin), so a cross build renders them as well. Desktops pick the
# PNG of the size they draw; small sizes from the SVG itself come out blurred
# or not at all where no SVG renderer is installed.
#
#   ulmora_render_icon_pngs(<target>
#       SVG <file.svg> SIZES <n>... OUTPUT_DIR <dir> [OUTPUTS <variable>])
#
# Adds the target <target> (built by default) that writes <dir>/<n>.png for
# each size n; OUTPUTS receives the list of these files in the order of SIZES.
# A changed SVG renders again.

function(ulmora_render_icon_pngs target)
    cmake_parse_arguments(R "" "SVG;OUTPUT_DIR;OUTPUTS" "SIZES" ${ARGN})
    if(NOT R_SVG OR NOT R_SIZES OR NOT R_OUTPUT_DIR)
        message(FATAL_ERROR "ulmora_render_icon_pngs: SVG, SIZES and OUTPUT_DIR are required")
    endif()
    find_program(ULMORA_RSVG_CONVERT rsvg-convert)
    if(NOT ULMORA_RSVG_CONVERT)
        message(FATAL_ERROR "rsvg-convert renders the icon's PNGs; install librsvg2-bin "
                            "(tools/deps installs it)")
    endif()
    get_filename_component(svg "${R_SVG}" ABSOLUTE)

    set(pngs)
    foreach(size IN LISTS R_SIZES)
        set(png "${R_OUTPUT_DIR}/${size}.png")
        add_custom_command(OUTPUT "${png}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${R_OUTPUT_DIR}"
            COMMAND "${ULMORA_RSVG_CONVERT}" --width ${size} --height ${size}
                    --format png --output "${png}" "${svg}"
            DEPENDS "${svg}"
            COMMENT "Rendering ${size}x${size} PNG of ${svg}"
            VERBATIM)
        list(APPEND pngs "${png}")
    endforeach()
    add_custom_target(${target} ALL DEPENDS ${pngs})
    if(R_OUTPUTS)
        set(${R_OUTPUTS} ${pngs} PARENT_SCOPE)
    endif()
endfunction()
