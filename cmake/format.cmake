# `format` rewrites the sources with clang-format; `check` fails on any source that is not
# formatted.
find_program(QM407_CLANG_FORMAT clang-format REQUIRED)

file(GLOB_RECURSE QM407_FORMAT_SOURCES CONFIGURE_DEPENDS
     LIST_DIRECTORIES false RELATIVE ${PROJECT_SOURCE_DIR}
     ${PROJECT_SOURCE_DIR}/app/*.cpp ${PROJECT_SOURCE_DIR}/app/*.h
     ${PROJECT_SOURCE_DIR}/bench/*.cpp ${PROJECT_SOURCE_DIR}/bench/*.h
     ${PROJECT_SOURCE_DIR}/core/*.cpp ${PROJECT_SOURCE_DIR}/core/*.h
     ${PROJECT_SOURCE_DIR}/device/*.cpp ${PROJECT_SOURCE_DIR}/device/*.h
     ${PROJECT_SOURCE_DIR}/error/*.h
     ${PROJECT_SOURCE_DIR}/fuzz/*.cpp
     ${PROJECT_SOURCE_DIR}/register/*.cpp ${PROJECT_SOURCE_DIR}/register/*.h
     ${PROJECT_SOURCE_DIR}/sim/*.cpp ${PROJECT_SOURCE_DIR}/sim/*.h
     ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h)

set(QM407_FORMAT_CHECKED ${QM407_FORMAT_SOURCES})

add_custom_target(format
    COMMAND ${QM407_CLANG_FORMAT} -i ${QM407_FORMAT_SOURCES}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} VERBATIM)
add_custom_target(check
    COMMAND ${QM407_CLANG_FORMAT} --dry-run --Werror ${QM407_FORMAT_CHECKED}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} VERBATIM)
