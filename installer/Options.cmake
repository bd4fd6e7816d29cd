# Command-line options: the portable parser and its Win32 side (console, ParseCommandLine).
add_library(vm_options_core STATIC ${CMAKE_CURRENT_LIST_DIR}/VmOptionParser.cpp)

if(WIN32)
  add_library(vm_options STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp)
  target_link_libraries(vm_options PUBLIC vm_options_core vm_common)
  # This list is read before the program target exists; link once the folder is processed.
  cmake_language(DEFER CALL target_link_libraries VmNetworkInstaller PRIVATE vm_options)
endif()
