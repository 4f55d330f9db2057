# The Windows programs: Quorvane.exe (subsystem windows) and its console
# companion Quorvane.com (subsystem console), each one static executable with
# its icon, manifest and version resource, importing only system DLLs. Also
# the small programs the Wine tests use.
enable_language(RC)

set(QUORVANE_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/resources)
if(NOT QUORVANE_MANIFEST_ARCH)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUORVANE_MANIFEST_ARCH amd64)
  else()
    set(QUORVANE_MANIFEST_ARCH x86)
  endif()
endif()

# quorvane_resources(NAME FILE LEVEL DESCRIPTION): NAME.manifest and NAME.rc
# in the build folder for the program FILE; LEVEL is the execution level
# its manifest asks for. Sets NAME_RC to the .rc file.
function(quorvane_resources name file level description)
  set(QUORVANE_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
  set(QUORVANE_FILE ${file})
  set(QUORVANE_EXECUTION_LEVEL ${level})
  set(QUORVANE_DESCRIPTION ${description})
  configure_file(resources/Quorvane.manifest.in ${QUORVANE_MANIFEST} @ONLY)
  configure_file(resources/Quorvane.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc @ONLY)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc APPEND PROPERTY OBJECT_DEPENDS
    ${QUORVANE_RESOURCES}/FORM_ICON1.ico ${QUORVANE_RESOURCES}/FORM1_IMAGELIST1.bmp ${QUORVANE_MANIFEST})
  set(${name}_RC ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc PARENT_SCOPE)
endfunction()
# The window program asks for elevation when it starts; the console
# companion runs as it is started and says so when it is not elevated.
quorvane_resources(Quorvane Quorvane.exe requireAdministrator "Quorvane: partition IDs and volume labels")
quorvane_resources(QuorvaneConsole Quorvane.com asInvoker "Quorvane: partition IDs and volume labels (console)")

# The version, for the release packages (scripts/package) and the tests.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/version.txt CONTENT "@PROJECT_VERSION@\n" @ONLY)

# The Windows side that every Windows program of the project shares.
add_library(quorvane_win32 STATIC
  programs/Win32Start.cpp
  platform/win32/Win32Platform.cpp
  platform/win32/Win32SystemView.cpp
  platform/win32/WideText.cpp
  platform/win32/ConsoleStream.cpp
  platform/win32/Elevation.cpp)
target_compile_definitions(quorvane_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(quorvane_win32 PUBLIC quorvane_core advapi32 shell32 kernel32)

add_executable(Quorvane WIN32
  programs/WinMain.cpp
  ui/SystemMenu.cpp
  ui/Window.cpp
  ui/Frame.cpp
  ui/Controls.cpp
  ui/ReportList.cpp
  ui/Gdi.cpp
  ui/Dpi.cpp
  ui/WindowLayout.cpp
  ui/MainWindow.cpp
  ui/MainWindowHandlers.cpp
  ${Quorvane_RC})
target_link_libraries(Quorvane PRIVATE quorvane_win32 comctl32 user32 gdi32)
# The About box names the version the version resource carries.
target_compile_definitions(Quorvane PRIVATE QUORVANE_VERSION="${PROJECT_VERSION}")

# Quorvane.com: the same run, console subsystem, its own entry point.
add_executable(QuorvaneConsole programs/ConsoleMain.cpp ${QuorvaneConsole_RC})
set_target_properties(QuorvaneConsole PROPERTIES OUTPUT_NAME Quorvane SUFFIX .com)
target_link_libraries(QuorvaneConsole PRIVATE quorvane_win32)

if(MSVC)
  # The manifest comes from the .rc file; the linker must not add its own.
  target_link_options(Quorvane PRIVATE /MANIFEST:NO)
  target_link_options(QuorvaneConsole PRIVATE /MANIFEST:NO)
  set_property(TARGET Quorvane QuorvaneConsole quorvane_core quorvane_win32 PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  # No MinGW runtime DLLs beside the program, and no symbols in it.
  target_link_options(Quorvane PRIVATE -static -static-libgcc -static-libstdc++ -s)
  target_link_options(QuorvaneConsole PRIVATE -static -static-libgcc -static-libstdc++ -s)
endif()

if(QUORVANE_TESTS)
  # Drives the program's windows from the Wine tests (tests/wine/run).
  add_executable(window-driver tests/wine/WindowDriver.cpp)
  target_include_directories(window-driver PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(window-driver PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(window-driver PRIVATE oleacc oleaut32 ole32 uuid user32 kernel32)
  # Whether the window's texts fit its controls at each DPI, in the system's metrics.
  add_executable(layout-text-test tests/wine/LayoutTextTest.cpp ui/WindowLayout.cpp)
  target_include_directories(layout-text-test PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(layout-text-test PRIVATE quorvane_core gdi32 user32 kernel32)
  # The code page 936 edge of the program, under a locale that is not Chinese.
  add_executable(platform-text-test tests/wine/PlatformTextTest.cpp)
  target_link_libraries(platform-text-test PRIVATE quorvane_win32)
  if(NOT MSVC)
    target_link_options(window-driver PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_options(platform-text-test PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_options(layout-text-test PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endif()
