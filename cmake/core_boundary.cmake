# Keeps the core free of the GUI. ulmora_check_core_boundary walks everything a
# target links, directly or through other targets, and stops the configure step
# when it reaches one of the forbidden libraries, naming the chain of links
# that leads there, so that a link added anywhere below a core library cannot
# bring in Qt Gui or Widgets unnoticed.
#
#   ulmora_check_core_boundary(TARGETS target... FORBIDDEN Qt6::Gui Qt6::Widgets)
#
# A forbidden name is also found as a plain library name or file (-lQt6Gui,
# libQt6Widgets.so) and behind generator expressions, whose conditions are not
# evaluated: a link that is there under some condition counts.

# The target names or library items that one link entry stands for: the entry
# itself, or every word inside a generator expression ($<LINK_ONLY:Qt6::Gui>,
# $<$<BOOL:...>:lib>); words that name no target and no forbidden library are
# passed over by the caller.
function(_ulmora_link_items aEntry aOut)
    # A piece of an expression that held a ";" has "<" or ">" without "$<".
    if(aEntry MATCHES "[$<>]")
        string(REPLACE "::" "@@" text "${aEntry}")
        string(REGEX REPLACE "[$<>:,; ]+" ";" words "${text}")
        string(REPLACE "@@" "::" words "${words}")
        list(REMOVE_ITEM words "")
        set(${aOut} ${words} PARENT_SCOPE)
    else()
        set(${aOut} "${aEntry}" PARENT_SCOPE)
    endif()
endfunction()

# Whether aItem is one of aForbidden, by target or as a plain library.
function(_ulmora_is_forbidden aItem aForbidden aOut)
    set(hit "")
    foreach(name IN LISTS aForbidden)
        # Qt6::Gui as a plain library: -lQt6Gui, libQt6Gui.so.6, Qt6Gui.lib ...
        string(REPLACE "::" "" plain "${name}")
        if(aItem STREQUAL name OR aItem MATCHES "(^|[/\\\\]|^-l|lib)${plain}([.]|$)")
            set(hit "${name}")
            break()
        endif()
    endforeach()
    set(${aOut} "${hit}" PARENT_SCOPE)
endfunction()

function(ulmora_check_core_boundary)
    cmake_parse_arguments(B "" "" "TARGETS;FORBIDDEN" ${ARGN})
    foreach(core IN LISTS B_TARGETS)
        if(NOT TARGET ${core})
            message(FATAL_ERROR "Core boundary: there is no target ${core}")
        endif()
        # Breadth first over (target, chain) pairs; each target once.
        set(queue "${core}")
        set(chains "${core}")
        set(seen "")
        while(queue)
            list(POP_FRONT queue current)
            list(POP_FRONT chains chain)
            if(current IN_LIST seen)
                continue()
            endif()
            list(APPEND seen "${current}")
            get_target_property(aliased ${current} ALIASED_TARGET)
            if(aliased)
                set(current ${aliased})
            endif()
            set(entries "")
            get_target_property(imported ${current} IMPORTED)
            if(imported)
                set(properties INTERFACE_LINK_LIBRARIES IMPORTED_LINK_DEPENDENT_LIBRARIES)
            else()
                set(properties LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            endif()
            list(APPEND properties INTERFACE_LINK_LIBRARIES_DIRECT LINK_OPTIONS
                 INTERFACE_LINK_OPTIONS)
            foreach(property IN LISTS properties)
                get_target_property(value ${current} ${property})
                if(value)
                    list(APPEND entries ${value})
                endif()
            endforeach()
            foreach(entry IN LISTS entries)
                _ulmora_link_items("${entry}" items)
                foreach(item IN LISTS items)
                    _ulmora_is_forbidden("${item}" "${B_FORBIDDEN}" hit)
                    if(hit)
                        message(FATAL_ERROR
                            "Core boundary: ${core} reaches ${hit}: ${chain} -> ${item}. "
                            "The core libraries link Qt Core (and Network) only; code that "
                            "needs Qt Gui or Widgets belongs in a widgets library.")
                    endif()
                    if(TARGET ${item} AND NOT item IN_LIST seen)
                        list(APPEND queue "${item}")
                        list(APPEND chains "${chain} -> ${item}")
                    endif()
                endforeach()
            endforeach()
        endwhile()
    endforeach()
endfunction()
