# The register's sources, listed once: the main build's library and the separate fuzz build
# (fuzz/, built with clang) both compile them.
set(QM407_REGISTER_SOURCES
    registererror.h
    text1251.h text1251.cpp
    record.h record.cpp
    recordstore.h recordstore.cpp
    dataformat.h dataformat.cpp
    heldfile.h heldfile_p.h heldfile.cpp
    savejournal.h savejournal.cpp
    saveimage.h saveimage.cpp
    datafile.h datafile.cpp
    editing.h editing.cpp
    csvformat.h csvformat.cpp
    registercsv.h registercsv.cpp
    plainfile.h
)
# The held file's and the chosen files' system calls: one source per platform.
if(WIN32)
    list(APPEND QM407_REGISTER_SOURCES heldfile_win.cpp plainfile_win.cpp)
else()
    list(APPEND QM407_REGISTER_SOURCES heldfile_posix.cpp plainfile_posix.cpp)
endif()
list(TRANSFORM QM407_REGISTER_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
