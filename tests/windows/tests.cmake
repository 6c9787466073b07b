# The tests that run under Wine, from their usual folders, and the Windows-only ones beside this file.
set(shared ${CMAKE_CURRENT_LIST_DIR}/..)
foreach(name tst_record tst_recordstore tst_editing tst_dataformat tst_registercsv)
    add_qm407_test(${name} SOURCES ${shared}/register/${name}.cpp LIBS qm407_testkit)
endforeach()
foreach(name tst_auxwindows tst_messagebox tst_mainwindow)
    add_qm407_test(${name} SOURCES ${shared}/app/${name}.cpp LIBS qm407_testkit)
endforeach()
add_qm407_test(tst_windowwords SOURCES ${shared}/literals/tst_windowwords.cpp LIBS qm407_testkit)
add_qm407_test(tst_opsformat SOURCES ${shared}/ops/tst_opsformat.cpp LIBS qm407_deviceops)

# Windows only: the settings in the registry, and the link on a COM port that Wine maps to a
# Linux simulator's terminal (scripts/windows/wine-run starts one per test that asks for it).
add_qm407_test(tst_systemstore SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_systemstore.cpp LIBS qm407_testkit)
add_qm407_test(tst_comport SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_comport.cpp LIBS qm407_device TIMEOUT 120)
set_property(TEST tst_comport APPEND PROPERTY ENVIRONMENT "QM407_WINE_SIM=QM407")
add_qm407_test(tst_guard SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_guard.cpp LIBS qm407_app)
