# Third-party code comes from Debian only: googletest from /usr/src/googletest, tinyxml2 from the
# -dev package natively and from Debian's source package (fetched by scripts/setup.sh into .cache/)
# for the mingw toolchains.

if(VM_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

if(WIN32)
  file(GLOB VM_TINYXML2_SOURCE_DIR LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/.cache/tinyxml2-*)
  if(NOT VM_TINYXML2_SOURCE_DIR OR NOT EXISTS ${VM_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
    message(FATAL_ERROR "tinyxml2 source package missing in .cache/: run scripts/setup.sh")
  endif()
  add_library(tinyxml2 STATIC ${VM_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
  target_include_directories(tinyxml2 SYSTEM PUBLIC ${VM_TINYXML2_SOURCE_DIR})
  # libstdc++'s headers switch mingw to its own C99 printf and scanf (some 80 KB with their number
  # conversions); stdio.h read first, under __USE_MINGW_ANSI_STDIO=0, keeps tinyxml2's few
  # formatting and parsing calls on msvcrt's.
  target_compile_options(tinyxml2 PRIVATE -w -include stdio.h)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TINYXML2 REQUIRED IMPORTED_TARGET tinyxml2)
  add_library(tinyxml2 INTERFACE)
  target_link_libraries(tinyxml2 INTERFACE PkgConfig::TINYXML2)
endif()
