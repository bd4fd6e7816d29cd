# Process launch, privileges, security descriptors, sessions, registry and library loading.
target_sources(vm_common_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PlatformCore.cpp)
if(WIN32)
  target_sources(vm_common PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/Process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Security.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Session.cpp)
endif()
if(WIN32)
  # user32 for the shell launch owner window; a known DLL.
  target_link_libraries(vm_common PUBLIC user32)
endif()
