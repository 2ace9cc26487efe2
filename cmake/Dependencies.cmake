find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# FreeImage ships neither a CMake config nor a pkg-config file.
find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY NAMES freeimage FreeImage REQUIRED)
if(WIN32)
  # The import library links; the DLL itself sits beside the programs.
  find_file(FREEIMAGE_DLL FreeImage.dll PATH_SUFFIXES bin REQUIRED)
endif()
if(NOT TARGET FreeImage::FreeImage)
  add_library(FreeImage::FreeImage SHARED IMPORTED)
  if(WIN32)
    set_target_properties(FreeImage::FreeImage PROPERTIES
      IMPORTED_IMPLIB ${FREEIMAGE_LIBRARY} IMPORTED_LOCATION ${FREEIMAGE_DLL})
  else()
    set_target_properties(FreeImage::FreeImage PROPERTIES IMPORTED_LOCATION ${FREEIMAGE_LIBRARY})
  endif()
  set_target_properties(FreeImage::FreeImage PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})
endif()

# libpng decodes the browser's PNGs straight into our rows: Debian's on Linux, the static one
# scripts/windows-deps.sh builds for FreeImage on Windows.
find_package(PNG REQUIRED)
# libdeflate inflates the plain ones: Debian's on Linux, the static one scripts/windows-deps.sh
# builds on Windows. Its pkg-config file is not in every release, so it is looked for by hand.
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
find_library(LIBDEFLATE_LIBRARY NAMES deflate libdeflate REQUIRED)
if(NOT TARGET Libdeflate::Libdeflate)
  add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
  set_target_properties(Libdeflate::Libdeflate PROPERTIES IMPORTED_LOCATION ${LIBDEFLATE_LIBRARY}
                                                          INTERFACE_INCLUDE_DIRECTORIES ${LIBDEFLATE_INCLUDE_DIR})
endif()

if(NOT WIN32)  # Windows has WinINet
  find_package(CURL REQUIRED)
endif()

if(TORVO_BUILD_APPS)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network DBus)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-shm)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  find_package(SQLite3 REQUIRED)
endif()

if(TORVO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TORVO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
