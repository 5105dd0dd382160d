# The pictures for a build without Qt Svg (Windows): each SVG of
# resources/icons rendered to PNGs on the build host with rsvg-convert
# (ulmora_render_icon_pngs, cmake/icons.cmake) and compiled into <target> as
#   :/icons/<name>/<size>.png            the 24 px icons at 24 and 48 px,
#   :/icons/ulmora/<size>.png            the program's icon, 16 to 256 px,
#   :/pictures/list_background/200.png  the picture behind the task list.
# resources/tasks_pictures_png.cpp reads them.

include("${CMAKE_CURRENT_LIST_DIR}/icons.cmake")

function(ulmora_add_png_pictures target)
    set(svg_dir "${CMAKE_SOURCE_DIR}/resources/icons")
    set(out "${CMAKE_CURRENT_BINARY_DIR}/pictures")
    set(files)
    file(GLOB svgs RELATIVE "${svg_dir}" "${svg_dir}/*.svg")
    foreach(svg IN LISTS svgs)
        string(REGEX REPLACE "\\.svg$" "" name "${svg}")
        if(name STREQUAL "list_background")
            set(folder "pictures/${name}")
            set(sizes 200)
        elseif(name STREQUAL "ulmora")
            set(folder "icons/${name}")
            set(sizes 16 22 24 32 48 64 256)
        else()
            set(folder "icons/${name}")
            set(sizes 24 48)
        endif()
        ulmora_render_icon_pngs(${target}_png_${name} SVG "${svg_dir}/${svg}" SIZES ${sizes}
            OUTPUT_DIR "${out}/${folder}" OUTPUTS pngs)
        list(APPEND files ${pngs})
    endforeach()
    qt_add_resources(${target} ulmora_pictures PREFIX "/" BASE "${out}" FILES ${files})
    set(ULMORA_APP_ICON_PNGS "${out}/icons/ulmora" PARENT_SCOPE)
endfunction()
