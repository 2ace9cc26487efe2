# The browser toolbar, installed with the programs: the extension to load in the browser, the
# native-messaging host manifests naming the installed host, and the script that registers the
# host for one user or system-wide. Included by the project's install rules.
if(TARGET torvo-toolbar-host)
  set(_torvo_toolbar_share ${CMAKE_INSTALL_DATADIR}/torvo)

  # The extension packed for installing outside the stores: a CRX for Chromium and an XPI for
  # Firefox, the same bytes from the same sources (toolbar/pack_extension.py).
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  find_program(TORVO_OPENSSL openssl REQUIRED)
  file(GLOB_RECURSE _torvo_extension_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/toolbar/extension/*)
  set(_torvo_packed ${CMAKE_BINARY_DIR}/toolbar/packed)
  set(TORVO_TOOLBAR_CRX ${_torvo_packed}/torvo.crx)
  set(TORVO_TOOLBAR_XPI ${_torvo_packed}/torvo.xpi)
  add_custom_command(
    OUTPUT ${TORVO_TOOLBAR_CRX} ${TORVO_TOOLBAR_XPI}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_torvo_packed}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/toolbar/pack_extension.py
            --extension ${PROJECT_SOURCE_DIR}/toolbar/extension --key ${PROJECT_SOURCE_DIR}/toolbar/packing-key.pem
            --crx ${TORVO_TOOLBAR_CRX} --xpi ${TORVO_TOOLBAR_XPI}
    DEPENDS ${_torvo_extension_files} ${PROJECT_SOURCE_DIR}/toolbar/pack_extension.py
            ${PROJECT_SOURCE_DIR}/toolbar/packing-key.pem
    COMMENT "Packing the browser extension (CRX and XPI)")
  add_custom_target(torvo_toolbar_packed ALL DEPENDS ${TORVO_TOOLBAR_CRX} ${TORVO_TOOLBAR_XPI})

  # Chromium's ID comes from the key in the manifest; its version names the CRX's version.
  file(READ ${PROJECT_SOURCE_DIR}/toolbar/extension/manifest.json _torvo_extension_manifest)
  string(JSON _torvo_extension_version GET "${_torvo_extension_manifest}" version)
  string(JSON _torvo_gecko_id GET "${_torvo_extension_manifest}" browser_specific_settings gecko id)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/toolbar/pack_extension.py --print-id
            --extension ${PROJECT_SOURCE_DIR}/toolbar/extension --key ${PROJECT_SOURCE_DIR}/toolbar/packing-key.pem
    OUTPUT_VARIABLE TORVO_TOOLBAR_CHROMIUM_ID OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/toolbar/extension/manifest.json)
  install(FILES ${TORVO_TOOLBAR_CRX} ${TORVO_TOOLBAR_XPI} DESTINATION ${_torvo_toolbar_share}/toolbar)

  # Installed to stay, without developer mode. Debian's Chromium launcher loads every folder in
  # /usr/share/chromium/extensions at each start (its /etc/chromium.d/extensions), as Debian's own
  # browser-extension packages rely on; it hands a <id>.json there to the same switch, which then
  # fails with a dialog at every start, so the package installs the extension's folder there and
  # the CRX with its <id>.json beside the XPI, for Chromium builds that read external CRX files.
  # Debian's Firefox ESR installs the XPI that its enterprise policies name: it reads
  # /etc/firefox/policies/policies.json when that exists, else <its folder>/distribution/policies.json,
  # a link to /usr/share/firefox-esr/distribution, where the package's file goes, leaving /etc to
  # the administrator. The paths are those of the installed files, known only when installing.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/toolbar/extension/ DESTINATION ${CMAKE_INSTALL_DATADIR}/chromium/extensions/torvo)
  install(CODE "
    set(_share \"\${CMAKE_INSTALL_PREFIX}/${_torvo_toolbar_share}/toolbar\")
    file(READ \"${PROJECT_SOURCE_DIR}/toolbar/manifests/chromium-extension.json.in\" _external)
    string(REPLACE \"@TORVO_TOOLBAR_CRX@\" \"\${_share}/torvo.crx\" _external \"\${_external}\")
    string(REPLACE \"@TORVO_TOOLBAR_VERSION@\" \"${_torvo_extension_version}\" _external \"\${_external}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/toolbar/chromium-extensions/${TORVO_TOOLBAR_CHROMIUM_ID}.json\" \"\${_external}\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/toolbar/chromium-extensions/${TORVO_TOOLBAR_CHROMIUM_ID}.json\"
         DESTINATION \"\${_share}\")
    file(READ \"${PROJECT_SOURCE_DIR}/toolbar/manifests/firefox-policies.json.in\" _policies)
    string(REPLACE \"@TORVO_TOOLBAR_XPI_URL@\" \"file://\${_share}/torvo.xpi\" _policies \"\${_policies}\")
    string(REPLACE \"@TORVO_TOOLBAR_GECKO_ID@\" \"${_torvo_gecko_id}\" _policies \"\${_policies}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/toolbar/firefox-esr/policies.json\" \"\${_policies}\")
    file(INSTALL \"${CMAKE_BINARY_DIR}/toolbar/firefox-esr/policies.json\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/firefox-esr/distribution\")
  ")
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

# The packed extension: reproducible, signed with the packing key, holding the extension's files.
if(TARGET torvo_toolbar_packed AND TORVO_BUILD_TESTS)
  add_test(NAME toolbar_pack_test
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/toolbar/tests/pack_test.py
                   ${PROJECT_SOURCE_DIR}/toolbar/pack_extension.py ${PROJECT_SOURCE_DIR}/toolbar/extension
                   ${PROJECT_SOURCE_DIR}/toolbar/packing-key.pem ${TORVO_TOOLBAR_CRX} ${TORVO_TOOLBAR_XPI})
endif()
