# The guard's system-specific half: one source per platform.
target_sources(qm407_app PRIVATE instancemarker.h)
if(WIN32)
    target_sources(qm407_app PRIVATE instancemarker_win.cpp)
    target_link_libraries(qm407_app PRIVATE advapi32)
else()
    target_sources(qm407_app PRIVATE instancemarker_posix.cpp)
endif()
