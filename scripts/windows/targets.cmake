# Windows additions to the targets of the top-level CMakeLists.txt.
set(QUILM_WINDOWS_PROCESS
  ${CMAKE_SOURCE_DIR}/src/platform/console_windows.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/windows_resources.rc)
# The GL entry points past 1.1 belong to the platform layer, below every layer that draws.
target_sources(quilm_platform PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/gl_windows.cpp)
# posix_spawn and poll have no MinGW counterpart: the child process has its own Windows file.
get_target_property(sources quilm_platform SOURCES)
list(FILTER sources EXCLUDE REGEX "src/platform/child_process\\.cpp$")
list(APPEND sources ${CMAKE_SOURCE_DIR}/src/platform/child_process_windows.cpp)
set_target_properties(quilm_platform PROPERTIES SOURCES "${sources}")
# A GUI program: a double click opens no console; the console option opens one when needed.
set_target_properties(quilm PROPERTIES WIN32_EXECUTABLE ON)
target_sources(quilm PRIVATE ${QUILM_WINDOWS_PROCESS})
target_sources(quilm-tool PRIVATE ${QUILM_WINDOWS_PROCESS})

if(TARGET quilm_tests)
  get_target_property(sources quilm_tests SOURCES)
  list(FILTER sources EXCLUDE REGEX "tests/e2e/run_binary\\.cpp$")
  list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/e2e/run_binary_windows.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/windows_resources.rc)
  set_target_properties(quilm_tests PROPERTIES SOURCES "${sources}")
  target_compile_options(quilm_tests PRIVATE
    -include ${CMAKE_SOURCE_DIR}/tests/support/windows_compat.h)
  target_include_directories(quilm_tests PRIVATE tests/support/windows_include)
  # The tests run under Wine, where drive Z: is the Linux root: paths with the drive letter
  # stay right after a test changes to a directory on another drive, and cmd.exe (behind
  # system and popen) takes them as commands.
  get_target_property(definitions quilm_tests COMPILE_DEFINITIONS)
  list(FILTER definitions EXCLUDE REGEX "^QUILM_(BIN|TOOL_BIN|SOURCE_DIR)=")
  # Backslashes twice: once for the C string literal.
  string(REPLACE "/" "\\\\" binary_dir "Z:${CMAKE_BINARY_DIR}")
  list(APPEND definitions "QUILM_BIN=\"${binary_dir}\\\\quilm.exe\""
    "QUILM_TOOL_BIN=\"${binary_dir}\\\\quilm-tool.exe\""
    "QUILM_SOURCE_DIR=\"Z:${CMAKE_SOURCE_DIR}\"")
  set_target_properties(quilm_tests PROPERTIES COMPILE_DEFINITIONS "${definitions}")
endif()
