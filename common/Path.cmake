# Path utilities: the portable text operations, and the Win32 side (known folders, file system).
target_sources(vm_common_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/VmPathCore.cpp)
if(WIN32)
  # shell32 is not linked: it is loaded from the system directory when a folder needs the shell.
  target_sources(vm_common PRIVATE ${CMAKE_CURRENT_LIST_DIR}/VmPath.cpp)
endif()
