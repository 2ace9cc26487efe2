# The browser toolbar, installed with the programs: the extension to load in the browser, the
# native-messaging host manifests naming the installed host, and the script that registers the
# host for one user or system-wide. Included by the project's install rules.
if(TARGET torvo-toolbar-host)
  set(_torvo_toolbar_share ${CMAKE_INSTALL_DATADIR}/torvo)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/toolbar/extension/ DESTINATION ${_torvo_toolbar_share}/toolbar-extension)
  install(FILES ${PROJECT_SOURCE_DIR}/toolbar/manifests/chromium.json.in
                ${PROJECT_SOURCE_DIR}/toolbar/manifests/firefox.json.in
          DESTINATION ${_torvo_toolbar_share}/native-messaging-hosts)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/toolbar/install-host.sh DESTINATION ${_torvo_toolbar_share})

  # The manifests hold the host's absolute path, known only when installing (a package installs
  # under another prefix than the build was configured with). Firefox reads
  # <prefix>/lib/mozilla/native-messaging-hosts when the prefix is /usr; Chromium reads only
  # /etc/chromium/native-messaging-hosts, outside the prefix, so its manifest waits in the share
  # folder for install-host.sh --system or the package's maintainer script to put it there.
  install(CODE "
    set(_host \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/torvo-toolbar-host\")
    foreach(_browser chromium firefox)
      file(READ \"${PROJECT_SOURCE_DIR}/toolbar/manifests/\${_browser}.json.in\" _manifest)
      string(REPLACE \"@TORVO_TOOLBAR_HOST@\" \"\${_host}\" _manifest \"\${_manifest}\")
      file(WRITE \"${CMAKE_BINARY_DIR}/toolbar/\${_browser}/torvo.toolbar.json\" \"\${_manifest}\")
    endforeach()
    file(INSTALL \"${CMAKE_BINARY_DIR}/toolbar/firefox/torvo.toolbar.json\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/mozilla/native-messaging-hosts\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/toolbar/chromium/torvo.toolbar.json\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${_torvo_toolbar_share}/native-messaging-hosts/chromium\")
  ")
endif()
