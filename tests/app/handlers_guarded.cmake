# Fails when a window connects a handler to a signal without the guard: in the
# window folders every connection goes through ConnectGuarded (util/kvd_guard.h),
# so that no exception passes through Qt's signal delivery.
# Run: cmake -DROOT=<source folder> -P handlers_guarded.cmake
set(unguarded "")
foreach(folder app pool settings sync_ui tags resources)
    file(GLOB_RECURSE sources ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
    foreach(source IN LISTS sources)
        file(STRINGS ${source} lines REGEX "(^|[^A-Za-z_:])connect\\(|::connect\\(")
        foreach(line IN LISTS lines)
            string(STRIP "${line}" line)
            # The session bus connects its signals to slots by name; such
            # slots (TtasksDBusNotifier's) guard their own bodies.
            if(line MATCHES "^FBus\\.connect\\(kService,")
                continue()
            endif()
            list(APPEND unguarded "${source}: ${line}")
        endforeach()
    endforeach()
endforeach()
if(unguarded)
    list(JOIN unguarded "\n" text)
    message(FATAL_ERROR "Connections without ConnectGuarded:\n${text}")
endif()
