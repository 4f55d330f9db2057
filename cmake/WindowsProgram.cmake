# The Windows program: Quorvane.exe, one static executable (subsystem windows,
# ANSI WinMain) with its icon, drive picture, manifest and version resource,
# importing only system DLLs. Also the small window driver the Wine tests use.
enable_language(RC)

set(QUORVANE_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set(QUORVANE_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/Quorvane.manifest)
if(NOT QUORVANE_MANIFEST_ARCH)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUORVANE_MANIFEST_ARCH amd64)
  else()
    set(QUORVANE_MANIFEST_ARCH x86)
  endif()
endif()
configure_file(resources/Quorvane.manifest.in ${QUORVANE_MANIFEST} @ONLY)
configure_file(resources/Quorvane.rc.in ${CMAKE_CURRENT_BINARY_DIR}/Quorvane.rc @ONLY)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/Quorvane.rc APPEND PROPERTY OBJECT_DEPENDS
  ${QUORVANE_RESOURCES}/FORM_ICON1.ico ${QUORVANE_RESOURCES}/FORM1_IMAGELIST1.bmp ${QUORVANE_MANIFEST})

# The Windows side that every Windows program of the project shares.
add_library(quorvane_win32 STATIC
  app/Win32Start.cpp
  platform/win32/Win32Platform.cpp
  platform/win32/WideText.cpp)
target_compile_definitions(quorvane_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(quorvane_win32 PUBLIC quorvane_core advapi32 shell32 kernel32)

add_executable(Quorvane WIN32
  app/WinMain.cpp
  app/SystemMenu.cpp
  ui/Window.cpp
  ui/Frame.cpp
  ui/Controls.cpp
  ui/ReportList.cpp
  ui/Gdi.cpp
  ui/MainWindow.cpp
  ui/MainWindowHandlers.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/Quorvane.rc)
target_link_libraries(Quorvane PRIVATE quorvane_win32 comctl32 user32 gdi32)

if(MSVC)
  # The manifest comes from the .rc file; the linker must not add its own.
  target_link_options(Quorvane PRIVATE /MANIFEST:NO)
  set_property(TARGET Quorvane quorvane_core quorvane_win32 PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  # No MinGW runtime DLLs beside the program, and no symbols in it.
  target_link_options(Quorvane PRIVATE -static -static-libgcc -static-libstdc++ -s)
endif()

if(QUORVANE_TESTS)
  # Drives the program's windows from the Wine tests (tests/wine/run).
  add_executable(window-driver tests/wine/WindowDriver.cpp)
  target_include_directories(window-driver PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(window-driver PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(window-driver PRIVATE user32 kernel32)
  # The code page 936 edge of the program, under a locale that is not Chinese.
  add_executable(platform-text-test tests/wine/PlatformTextTest.cpp)
  target_link_libraries(platform-text-test PRIVATE quorvane_win32)
  if(NOT MSVC)
    target_link_options(window-driver PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_options(platform-text-test PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endif()
