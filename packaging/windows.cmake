# Windows: `cmake --install` makes one folder with flashwick.exe, the Qt libraries and plugins
# (windeployqt), the hidapi and compiler runtime libraries and the translations; `cpack -G ZIP` packs
# that folder. DevizuvEZ.dll is not in it: the user puts the maker's DLL beside flashwick.exe.
install(TARGETS flashwick RUNTIME DESTINATION .)
install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/translations/ DESTINATION translations
        FILES_MATCHING PATTERN "*.qm")

# Libraries of imported targets the program links (hidapi when it is a DLL).
if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.21)
    install(CODE "
        set(dlls \"$<TARGET_RUNTIME_DLLS:flashwick>\")
        if(dlls)
            file(INSTALL \${dlls} DESTINATION \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
        endif()")
endif()

# Qt beside the program. CMAKE_INSTALL_PREFIX is read when the install runs, so a cpack run deploys
# into its own staging folder. A native build asks windeployqt; a cross-build cannot run it (unless
# one is named in WINDEPLOYQT), so the Qt libraries come with the runtime libraries above and the
# plugins and compiler runtime are installed from the imported targets and the compiler's folders.
if(CMAKE_CROSSCOMPILING AND NOT WINDEPLOYQT)
    foreach(plugin QWindowsIntegrationPlugin:platforms QWindowsVistaStylePlugin:styles QICOPlugin:imageformats
                   QJpegPlugin:imageformats QGifPlugin:imageformats)
        string(REPLACE ":" ";" plugin "${plugin}")
        list(GET plugin 0 target)
        list(GET plugin 1 folder)
        if(TARGET Qt5::${target})
            install(FILES $<TARGET_FILE:Qt5::${target}> DESTINATION ${folder})
        elseif(target STREQUAL "QWindowsIntegrationPlugin")
            message(FATAL_ERROR "Qt has no Windows platform plugin (Qt5::QWindowsIntegrationPlugin)")
        endif()
    endforeach()
    if(NOT MSVC)
        set(flashwick_runtime_dlls "")
        foreach(dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
                message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
            endif()
            list(APPEND flashwick_runtime_dlls "${found}")
        endforeach()
        install(FILES ${flashwick_runtime_dlls} DESTINATION .)
    endif()
else()
    get_target_property(flashwick_qmake Qt5::qmake IMPORTED_LOCATION)
    get_filename_component(flashwick_qt_bin "${flashwick_qmake}" DIRECTORY)
    find_program(WINDEPLOYQT windeployqt HINTS "${flashwick_qt_bin}")
    if(NOT WINDEPLOYQT)
        message(FATAL_ERROR "windeployqt not found beside ${flashwick_qmake}: the install folder would lack Qt")
    endif()
    if(MSVC)
        set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
        include(InstallRequiredSystemLibraries)
        set(flashwick_runtime --no-compiler-runtime)
    else()
        set(flashwick_runtime --compiler-runtime)
    endif()
    install(CODE "
        execute_process(COMMAND \"${WINDEPLOYQT}\" $<IF:$<CONFIG:Debug>,--debug,--release> ${flashwick_runtime}
                                --no-translations --no-system-d3d-compiler --no-opengl-sw
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/flashwick.exe\"
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR \"windeployqt failed: \${result}\")
        endif()")
endif()

set(CPACK_PACKAGE_NAME Flashwick)
set(CPACK_PACKAGE_VENDOR Quenvor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for Quenvor cameras and ZW filter wheels")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME flashwick-${PROJECT_VERSION}-windows-x64)
include(CPack)
