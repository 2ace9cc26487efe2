# What `cmake --install` puts under the prefix, and the Debian package made from it.
# Included last, so every program's target is known here. Nothing is written outside the prefix.

# Folders made by the install step are 0755 whatever the umask, as a package needs them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

foreach(program TorvoTool TorvoSync torvo-image torvo-service torvo-toolbar-host torvo-connect)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES data/org.torvo.TorvoSync.desktop data/org.torvo.TorvoTool.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/org.torvo.TorvoSync.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(icon torvo torvo-sync)
  install(FILES data/icons/${icon}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES data/icons/${size}x${size}/${icon}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endforeach()

# Manual pages and the changelog are installed gzipped (as Debian wants them), with the version
# filled in and no time stamp in the gzip header, so two builds give the same bytes.
find_program(TORVO_GZIP gzip)
set(_torvo_data_out ${CMAKE_BINARY_DIR}/install-data)
set(_torvo_gzipped)
function(torvo_gzipped source output)
  configure_file(${source} ${_torvo_data_out}/plain/${output} @ONLY)
  add_custom_command(
    OUTPUT ${_torvo_data_out}/${output}.gz
    COMMAND ${TORVO_GZIP} -9nc ${_torvo_data_out}/plain/${output} > ${_torvo_data_out}/${output}.gz
    DEPENDS ${_torvo_data_out}/plain/${output}
    COMMENT "Compressing ${output}")
  set(_torvo_gzipped ${_torvo_gzipped} ${_torvo_data_out}/${output}.gz PARENT_SCOPE)
endfunction()

set(_torvo_pages)
foreach(program TorvoTool TorvoSync torvo-image torvo-service torvo-toolbar-host torvo-connect)
  if(TARGET ${program})
    torvo_gzipped(${PROJECT_SOURCE_DIR}/data/man/${program}.1 ${program}.1)
    list(APPEND _torvo_pages ${_torvo_data_out}/${program}.1.gz)
  endif()
endforeach()
torvo_gzipped(${PROJECT_SOURCE_DIR}/packaging/changelog.in changelog)
add_custom_target(torvo_install_data ALL DEPENDS ${_torvo_gzipped})
install(FILES ${_torvo_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${_torvo_data_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/torvo)

if(TARGET torvo-service)
  # systemd looks for user units under <prefix>/lib/systemd/user. The unit names the installed
  # program, whose prefix is known only when installing (the package's differs from the build's).
  install(CODE "
    file(READ \"${PROJECT_SOURCE_DIR}/data/torvo-service.service\" _unit)
    string(REPLACE \"@TORVO_BINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\" _unit \"\${_unit}\")
    file(WRITE \"${_torvo_data_out}/unit/torvo-service.service\" \"\${_unit}\")
    file(INSTALL \"${_torvo_data_out}/unit/torvo-service.service\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  ")
endif()
include(${PROJECT_SOURCE_DIR}/toolbar/install.cmake)

set(CPACK_PACKAGE_NAME torvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Torvo developers")
set(CPACK_PACKAGE_CONTACT "The Torvo developers <dev@torvo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep web pages with a picture of them")
set(CPACK_PACKAGE_DESCRIPTION "Torvo keeps the web pages you choose with a small picture of each.\nTorvoTool, started by the browser toolbar, captures the page in front, makes a\nsharpened PNG thumbnail and uploads it with the page's address, title and note.\nTorvoSync downloads the album's images that are missing from ~/Torvo.\ntorvo-image applies the imaging library's filters from the command line,\ntorvo-service is the web service for local use and a home server, and\ntorvo-connect connects the programs to your own service over http or https.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the Qt 6, FreeImage, libcurl and SQLite libraries the programs link;
# the Korean font is only found at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torvo.example/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(TARGET torvo-toolbar-host)
  # The only files outside /usr: the host's registration for Chromium, made and taken away by
  # the package's maintainer scripts.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
