# The libraries for the Windows cross-build, all static, from the prefix that deps.sh builds:
# the same target and variable names the Linux branch of the top-level CMakeLists.txt defines.
find_package(SDL2 REQUIRED CONFIG)
add_library(PkgConfig::SDL2 ALIAS SDL2::SDL2-static)
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENMPT REQUIRED IMPORTED_TARGET libopenmpt)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)
# The static FreeType inflates with the prefix's zlib, which must follow it on the link line.
find_package(Freetype REQUIRED)
set_property(TARGET Freetype::Freetype APPEND PROPERTY INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
find_package(OpenGL REQUIRED COMPONENTS OpenGL)
find_library(GLU_LIBRARY glu32 REQUIRED)
find_library(IMGUI_LIBRARY NAMES libimgui.a REQUIRED)
find_path(IMGUI_INCLUDE_DIR imgui.h PATH_SUFFIXES imgui REQUIRED)
# toml++ is header-only: the host's Debian headers serve the cross-build too, through a folder
# that holds them alone (all of /usr/include would shadow MinGW's own headers).
if(NOT EXISTS /usr/include/toml++/toml.h)
  message(FATAL_ERROR "toml++ headers missing: install libtomlplusplus-dev")
endif()
set(QUILM_TOML_INCLUDE_DIR ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${QUILM_TOML_INCLUDE_DIR})
file(CREATE_LINK /usr/include/toml++ ${QUILM_TOML_INCLUDE_DIR}/toml++ SYMBOLIC)
# libstb.a holds stb_image alone (the importer's textures): this ImGui build carries its own
# stb_truetype.
find_library(STB_LIBRARY NAMES libstb.a REQUIRED)

# One executable needs no DLL but the system's: the C++ runtime and winpthreads go in too.
add_link_options(-static -static-libgcc -static-libstdc++)

# windows.h (which MinGW's GL/gl.h includes) without mmsystem.h, whose timeGetTime would clash
# with the platform clock's, and without the min and max macros. OpenGL past 1.1 is declared
# by glext.h; src/platform/gl_windows.cpp supplies the few such functions called directly.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX GL_GLEXT_PROTOTYPES)
