# The guard's system-specific half: one source per platform.
target_sources(qm407_app PRIVATE instancemarker.h)
if(WIN32)
    target_sources(qm407_app PRIVATE instancemarker_win.cpp)
else()
    target_sources(qm407_app PRIVATE instancemarker_posix.cpp)
endif()
