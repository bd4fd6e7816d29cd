# The one definition of the program's version: it feeds the version resource, the log banner
# and the self-upgrade comparison through the generated header vm_version.h.
set(VM_VERSION_MAJOR 3)
set(VM_VERSION_MINOR 17)
set(VM_VERSION_BUILD 127)
set(VM_VERSION_REVISION 0)
set(VM_VERSION "${VM_VERSION_MAJOR}.${VM_VERSION_MINOR}.${VM_VERSION_BUILD}.${VM_VERSION_REVISION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vm_version.h.in ${CMAKE_BINARY_DIR}/generated/vm_version.h @ONLY)
