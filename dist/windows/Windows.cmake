# Windows: kvbridge.exe with its icon, everything it needs beside it in the build tree (so it
# and the tests run from there), the same set installed into one folder, and the installer made
# of it (cpack -G NSIS): kvbridge-VERSION-win64-setup.exe.
set(win ${CMAKE_CURRENT_SOURCE_DIR}/windows)
set(winout ${CMAKE_CURRENT_BINARY_DIR}/windows)

# The icon, drawn from the scalable one at build time.
find_program(KVBRIDGE_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(KVBRIDGE_MAGICK convert REQUIRED)
set(sizes 16 24 32 48 64 256)
set(pngs)
foreach(size ${sizes})
  list(APPEND pngs ${winout}/icon-${size}.png)
endforeach()
add_custom_command(OUTPUT ${winout}/kvbridge.ico
  COMMAND ${CMAKE_COMMAND} -E make_directory ${winout}
  COMMAND ${CMAKE_COMMAND} -DRSVG=${KVBRIDGE_RSVG_CONVERT} -DSVG=${CMAKE_CURRENT_SOURCE_DIR}/kvbridge.svg
          -DOUT=${winout} "-DSIZES=${sizes}" -P ${win}/draw-icons.cmake
  COMMAND ${KVBRIDGE_MAGICK} ${pngs} ${winout}/kvbridge.ico
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/kvbridge.svg ${win}/draw-icons.cmake
  VERBATIM)
configure_file(${win}/kvbridge.rc.in ${winout}/kvbridge.rc @ONLY)
set_source_files_properties(${winout}/kvbridge.rc PROPERTIES OBJECT_DEPENDS ${winout}/kvbridge.ico)
add_custom_target(kvbridge-icon DEPENDS ${winout}/kvbridge.ico)
target_sources(kvbridge PRIVATE ${winout}/kvbridge.rc)
add_dependencies(kvbridge kvbridge-icon)

# What kvbridge.exe needs beside it: Qt's libraries and the plugins it loads (the Windows
# platform and style, Schannel for HTTPS, the image formats), the compiler's runtime, and Qt's
# Czech catalogue with a qt.conf that tells Qt where it is.
get_target_property(qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT qtcore_dll)
  get_target_property(qtcore_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(qt_bin ${qtcore_dll} DIRECTORY)
get_filename_component(qt_prefix ${qt_bin} DIRECTORY)
set(qt_dlls)
foreach(module Core Gui Widgets Network SerialPort)
  list(APPEND qt_dlls ${qt_bin}/Qt6${module}.dll)
endforeach()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_lib ${libgcc} DIRECTORY)
find_file(KVBRIDGE_WINPTHREAD_DLL libwinpthread-1.dll PATHS /usr/x86_64-w64-mingw32/lib
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(runtime_dlls ${gcc_lib}/libstdc++-6.dll ${gcc_lib}/libgcc_s_seh-1.dll ${KVBRIDGE_WINPTHREAD_DLL})
find_file(KVBRIDGE_QTBASE_CS qtbase_cs.qm PATHS /usr/share/qt6/translations
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# The plugins by folder; offscreen only for the tests, not installed.
set(plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll tls/qschannelbackend.dll
    tls/qcertonlybackend.dll imageformats/qico.dll imageformats/qgif.dll imageformats/qjpeg.dll)

set(deployed)
foreach(file ${qt_dlls} ${runtime_dlls})
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${CMAKE_BINARY_DIR}/${name}
    DEPENDS ${file} VERBATIM)
  list(APPEND deployed ${CMAKE_BINARY_DIR}/${name})
endforeach()
foreach(plugin ${plugins} platforms/qoffscreen.dll)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${plugin}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_prefix}/plugins/${plugin} ${CMAKE_BINARY_DIR}/${plugin}
    DEPENDS ${qt_prefix}/plugins/${plugin} VERBATIM)
  list(APPEND deployed ${CMAKE_BINARY_DIR}/${plugin})
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/translations/qtbase_cs.qm
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KVBRIDGE_QTBASE_CS} ${CMAKE_BINARY_DIR}/translations/qtbase_cs.qm
  DEPENDS ${KVBRIDGE_QTBASE_CS} VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/qt.conf
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${win}/qt.conf ${CMAKE_BINARY_DIR}/qt.conf
  DEPENDS ${win}/qt.conf VERBATIM)
list(APPEND deployed ${CMAKE_BINARY_DIR}/translations/qtbase_cs.qm ${CMAKE_BINARY_DIR}/qt.conf)
add_custom_target(kvbridge-deploy ALL DEPENDS ${deployed})

# The installation: one folder, kvbridge.exe at its top.
install(TARGETS kvbridge RUNTIME DESTINATION .)
install(FILES ${qt_dlls} ${runtime_dlls} ${win}/qt.conf DESTINATION .)
foreach(plugin ${plugins})
  get_filename_component(folder ${plugin} DIRECTORY)
  install(FILES ${qt_prefix}/plugins/${plugin} DESTINATION ${folder})
endforeach()
install(FILES ${KVBRIDGE_QTBASE_CS} DESTINATION translations)
install(FILES ${winout}/kvbridge.ico DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/copyright DESTINATION doc)

# The installer.  Each user's configuration and log live in %LOCALAPPDATA%\kvbridge, which the
# links name as the working directory: the program folder is not writable for users, and each
# user's bridge keeps its own terminal.cfg.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME kvbridge)
set(CPACK_PACKAGE_VENDOR kvbridge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kvbridge-${PROJECT_VERSION}-win64-setup)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kordavo – řídící jednotka")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kvbridge)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY kvbridge)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Kordavo – řídící jednotka")
set(CPACK_NSIS_DISPLAY_NAME "Kordavo – řídící jednotka")
set(CPACK_NSIS_MUI_ICON ${winout}/kvbridge.ico)
set(CPACK_NSIS_MUI_UNIICON ${winout}/kvbridge.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME kvbridge.exe)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_RESOURCE_FILE_LICENSE ${win}/licence.txt)
# The installer speaks Czech whatever the system's language: its own script (NSIS.template.in
# here, found before CPack's), a Unicode installer read as UTF-8.
list(PREPEND CMAKE_MODULE_PATH ${win})
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-INPUTCHARSET UTF8")
# CPack writes these into a CMake file, so backslashes and quotes are escaped for it.
foreach(part INSTALL UNINSTALL)
  string(TOLOWER ${part} file)
  file(READ ${win}/${file}.nsh commands)
  string(REPLACE "\\" "\\\\" commands "${commands}")
  string(REPLACE "\"" "\\\"" commands "${commands}")
  set(CPACK_NSIS_EXTRA_${part}_COMMANDS "${commands}")
endforeach()
include(CPack)
