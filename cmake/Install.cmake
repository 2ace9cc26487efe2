# What `cmake --install` puts under the prefix, and the Debian package made from it.
# Included last, so every program's target is known here.

foreach(program TorvoTool TorvoSync torvo-image torvo-service torvo-toolbar-host)
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

foreach(page torvo-image.1 torvo-service.1)
  if(EXISTS ${PROJECT_SOURCE_DIR}/data/man/${page})
    install(FILES data/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
if(EXISTS ${PROJECT_SOURCE_DIR}/data/torvo-service.service)
  # systemd looks for user units under <prefix>/lib/systemd/user.
  install(FILES data/torvo-service.service DESTINATION lib/systemd/user)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/toolbar/install.cmake)
  include(${PROJECT_SOURCE_DIR}/toolbar/install.cmake)
endif()

set(CPACK_PACKAGE_NAME torvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Torvo developers")
set(CPACK_PACKAGE_CONTACT "The Torvo developers <dev@torvo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep web pages with a picture of them")
set(CPACK_PACKAGE_DESCRIPTION "Torvo keeps the web pages you choose with a small picture of each.\n TorvoTool, started by the browser toolbar, captures the page in front, makes a\n sharpened PNG thumbnail and uploads it with the page's address, title and note.\n TorvoSync downloads the album's images that are missing from ~/Torvo.\n torvo-image applies the imaging library's filters from the command line, and\n torvo-service is a stand-in for the web service for local use and tests.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torvo.example/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
