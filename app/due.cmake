# Due-date rules, the reminder pass and the notifier, as a library of their own
# so that the main window, the tests and the benchmarks share one build of them.
# Included from app/CMakeLists.txt and from the test and benchmark folders that
# use it; whichever comes first defines the target.
if(NOT TARGET ulmora_due)
    set(ULMORA_DUE_DIR ${CMAKE_SOURCE_DIR}/app)
    add_library(ulmora_due STATIC
        ${ULMORA_DUE_DIR}/tasks_duedates.h ${ULMORA_DUE_DIR}/tasks_duedates.cpp
        ${ULMORA_DUE_DIR}/tasks_notifier.h ${ULMORA_DUE_DIR}/tasks_notifier.cpp
        ${ULMORA_DUE_DIR}/tasks_reminders.h ${ULMORA_DUE_DIR}/tasks_reminders.cpp
        ${ULMORA_DUE_DIR}/tasks_records.h)
    target_link_libraries(ulmora_due PUBLIC ulmora_store ulmora_settings ulmora_util Qt6::Widgets)
    if(TARGET PkgConfig::CANBERRA)
        target_link_libraries(ulmora_due PRIVATE PkgConfig::CANBERRA)
        target_compile_definitions(ulmora_due PRIVATE ULMORA_HAVE_CANBERRA)
    endif()
endif()
