# Settings in the program target, and its management-server variant. Included by the installer's
# list file, after the program target exists.
if(NOT WIN32)
  return()
endif()

target_link_libraries(VmNetworkInstaller PRIVATE vm_settings)
add_dependencies(VmNetworkInstaller vm_properties)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/VmNetworkInstaller.rc APPEND PROPERTY
             OBJECT_DEPENDS ${VM_STAGED_PROPERTIES})

# The same program plus the marker resource 120: it looks for a management-server payload
# behind its image. Sources and libraries follow the program's own, whatever is added later.
add_executable(VmNetworkInstallerWardline WIN32
  $<TARGET_PROPERTY:VmNetworkInstaller,SOURCES>
  ${CMAKE_SOURCE_DIR}/settings/WardlineMarker.rc)
target_include_directories(VmNetworkInstallerWardline PRIVATE
  $<TARGET_PROPERTY:VmNetworkInstaller,INCLUDE_DIRECTORIES>)
target_link_libraries(VmNetworkInstallerWardline PRIVATE
  $<TARGET_PROPERTY:VmNetworkInstaller,LINK_LIBRARIES>)
# Symbols would sit behind the last section, exactly where the payload is looked for, so this
# program is stripped in every build.
target_link_options(VmNetworkInstallerWardline PRIVATE
  $<TARGET_PROPERTY:VmNetworkInstaller,LINK_OPTIONS> -s)
add_dependencies(VmNetworkInstallerWardline vm_properties)
set_target_properties(VmNetworkInstallerWardline PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME win32.ShippingImage.WardlineImportsOnlyKnownDlls
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/installer/check_imports.py
                   $<TARGET_FILE:VmNetworkInstallerWardline>)
endif()
