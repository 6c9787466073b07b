# The register's sources, listed once: the main build's library and the separate fuzz build
# (fuzz/, built with clang) both compile them.
set(QM407_REGISTER_SOURCES
    registererror.h
    text1251.h text1251.cpp
    record.h record.cpp
    recordstore.h recordstore.cpp
    dataformat.h dataformat.cpp
    heldfile.h heldfile.cpp
    datafile.h datafile.cpp
    editing.h editing.cpp
    csvformat.h csvformat.cpp
    registercsv.h registercsv.cpp
)
list(TRANSFORM QM407_REGISTER_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
