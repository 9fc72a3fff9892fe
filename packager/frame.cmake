# The program frame: messages, administrator test, dialog, worker, upload offer.
add_library(pk_frame STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/admin_check.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/program_messages.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/progress_dialog.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/package_worker.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/upload_page.cpp)
target_include_directories(pk_frame PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(pk_frame PUBLIC ${PACKAGER_COLLECTORS} pk_shared ziparchive
                      shell32 ole32 advapi32 user32 gdi32)

add_executable(dossierkit WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/dossierkit_main.cpp
               ${CMAKE_SOURCE_DIR}/resources/dossierkit.rc)
target_link_libraries(dossierkit PRIVATE pk_frame)
# No terminal-server-aware mark: Windows then gives the program the Windows
# directory that unmarked programs see, which the package records.
target_link_options(dossierkit PRIVATE -municode -Wl,--disable-tsaware)
set_target_properties(dossierkit PROPERTIES OUTPUT_NAME dossierkit)
