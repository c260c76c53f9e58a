# The Windows build's libraries: GLFW, ENet and libsodium from scripts/windows-deps
# (static, in MORLAKEN_WIN_DEPS), the rest from Windows itself.
if(NOT MORLAKEN_WIN_DEPS OR NOT EXISTS ${MORLAKEN_WIN_DEPS}/lib/libglfw3.a)
  message(FATAL_ERROR "The Windows dependencies are missing: run scripts/setup --windows")
endif()

# Windows' own libraries the core needs: WinINet, the shell and COM, the sockets and the
# timer of ENet.
add_library(morlaken_win_system INTERFACE)
target_include_directories(morlaken_win_system SYSTEM INTERFACE ${MORLAKEN_WIN_DEPS}/include)
target_link_libraries(morlaken_win_system INTERFACE ${MORLAKEN_WIN_DEPS}/lib/libenet.a
  wininet shell32 ole32 uuid user32 ws2_32 winmm)
# WIN32_LEAN_AND_MEAN keeps windows.h from pulling in the old winsock.h before ENet's winsock2.h.
target_compile_definitions(morlaken_win_system INTERFACE UNICODE _UNICODE _WIN32_WINNT=0x0601
  WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(morlaken_win_glfw INTERFACE)
target_link_libraries(morlaken_win_glfw INTERFACE ${MORLAKEN_WIN_DEPS}/lib/libglfw3.a opengl32 gdi32)

if(EXISTS ${MORLAKEN_WIN_DEPS}/lib/libsodium.a)
  add_library(morlaken_win_sodium INTERFACE)
  target_link_libraries(morlaken_win_sodium INTERFACE ${MORLAKEN_WIN_DEPS}/lib/libsodium.a)
  target_compile_definitions(morlaken_win_sodium INTERFACE SODIUM_STATIC)
endif()

# The icon group GLFW_ICON, the version record and the application manifest.
enable_language(RC)
# Both carry the version of project(), written in by configure_file.
configure_file(${CMAKE_SOURCE_DIR}/launcher/app/windows/MorlakenLauncher.exe.manifest.in
  ${MORLAKEN_GENERATED_DIR}/MorlakenLauncher.exe.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/launcher/app/windows/launcher.rc.in ${MORLAKEN_GENERATED_DIR}/launcher.rc @ONLY)
set(MORLAKEN_WIN_RESOURCES ${MORLAKEN_GENERATED_DIR}/launcher.rc)
