# The Windows programs, cross-built with mingw-w64 against the static Qt of
# tools/windows/build-qt.sh (see cmake/mingw-w64-x86_64.cmake).

# The two window programs start without a console; zqprog is a console program.
set_target_properties(zq-programmer zq-programmer-demo PROPERTIES WIN32_EXECUTABLE ON)
# The three programs side by side at the top of the build folder, where the zip takes them from.
set_target_properties(zq-programmer zq-programmer-demo zqprog
    PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# make windows-zip: the programs with the sample catalogue, the demo's sample images, the README
# and the note on the driver.
set(ZQ_ZIP_NAME zq-programmer-${PROJECT_VERSION}-windows-x64)
set(ZQ_ZIP_STAGE ${CMAKE_BINARY_DIR}/zip/${ZQ_ZIP_NAME})
set(ZQ_DEMO_WORK ${CMAKE_BINARY_DIR}/demo-work)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${ZQ_ZIP_NAME}.zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZQ_ZIP_STAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZQ_ZIP_STAGE}/Firmware ${ZQ_ZIP_STAGE}/Bootware
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zq-programmer> $<TARGET_FILE:zq-programmer-demo>
            $<TARGET_FILE:zqprog> ${PROJECT_SOURCE_DIR}/share/Flash.ini
            ${ZQ_DEMO_WORK}/demo.bin ${ZQ_ZIP_STAGE}
    COMMAND ${CMAKE_COMMAND} -E copy ${ZQ_DEMO_WORK}/Firmware/demo.app ${ZQ_ZIP_STAGE}/Firmware
    COMMAND ${CMAKE_COMMAND} -E copy ${ZQ_DEMO_WORK}/Bootware/demo.boot ${ZQ_ZIP_STAGE}/Bootware
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${ZQ_ZIP_STAGE}/README.md
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/tools/windows/WINDOWS.txt
            ${ZQ_ZIP_STAGE}/WINDOWS.txt
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/${ZQ_ZIP_NAME}.zip
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${ZQ_ZIP_NAME}.zip --format=zip
            ${ZQ_ZIP_NAME}
    DEPENDS zq-programmer zq-programmer-demo zqprog demo-samples
            ${PROJECT_SOURCE_DIR}/share/Flash.ini ${PROJECT_SOURCE_DIR}/README.md
            ${PROJECT_SOURCE_DIR}/tools/windows/WINDOWS.txt
    COMMENT "Packing ${ZQ_ZIP_NAME}.zip")
add_custom_target(windows-zip DEPENDS ${CMAKE_BINARY_DIR}/${ZQ_ZIP_NAME}.zip)
