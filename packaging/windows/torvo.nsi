; Torvo's installer for Windows, per user and without administrator rights: the programs in
; %LOCALAPPDATA%\Programs\Torvo, a Start-menu entry for Torvo Sync, the toolbar's host registered
; with Chrome, Edge, Chromium and Firefox, and an entry in Apps & features whose uninstaller takes
; all of it away again (the pictures in C:\Torvo\ stay). /S runs either without questions.
;
; makensis -DTORVO_VERSION=<version> -DTORVO_FILES=<generated list> -DTORVO_OUTPUT=<setup.exe> torvo.nsi
; (packaging/windows/CMakeLists.txt generates the list from the build).

; 64-bit like the programs it carries (and Wine without its 32-bit part runs it too).
Target amd64-unicode
SetCompressor /SOLID lzma
; The same commit gives the same installer: no build time in it, and the files' own times (which
; differ from one build folder to the next) are not stored; installed files get the install's time.
SetDateSave off

!include "${TORVO_FILES}"

!define TORVO_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvo"
!define TORVO_HOST_NAME "torvo.toolbar"
!define TORVO_CHROMIUM_MANIFEST "torvo.toolbar.chromium.json"
!define TORVO_FIREFOX_MANIFEST "torvo.toolbar.firefox.json"

Name "Torvo"
OutFile "${TORVO_OUTPUT}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Torvo"
ShowInstDetails nevershow
ShowUninstDetails nevershow
VIProductVersion "${TORVO_VERSION}.0"
VIAddVersionKey "ProductName" "Torvo"
VIAddVersionKey "ProductVersion" "${TORVO_VERSION}"
VIAddVersionKey "FileVersion" "${TORVO_VERSION}"
VIAddVersionKey "FileDescription" "Torvo setup"
VIAddVersionKey "LegalCopyright" "Torvo"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The browsers read the host's manifest from the default value of these keys (all under HKCU).
; Each browser: its hosts' key, the keys above it up to the browser's own, and the manifest.
!macro TorvoHostKeys _macro
  !insertmacro ${_macro} "Software\Google\Chrome" "Software\Google" "${TORVO_CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Microsoft\Edge" "" "${TORVO_CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Chromium" "" "${TORVO_CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Mozilla" "" "${TORVO_FIREFOX_MANIFEST}"
!macroend

!macro TorvoRegisterHost _browser _vendor _manifest
  WriteRegStr HKCU "${_browser}\NativeMessagingHosts\${TORVO_HOST_NAME}" "" "$INSTDIR\${_manifest}"
!macroend

; The host's key, then the keys above it that hold nothing else any more (where the browser was
; never installed, this install made them); a key with anything of the browser's in it stays.
!macro TorvoUnregisterHost _browser _vendor _manifest
  DeleteRegKey HKCU "${_browser}\NativeMessagingHosts\${TORVO_HOST_NAME}"
  DeleteRegKey /ifempty HKCU "${_browser}\NativeMessagingHosts"
  DeleteRegKey /ifempty HKCU "${_browser}"
  !if "${_vendor}" != ""
    DeleteRegKey /ifempty HKCU "${_vendor}"
  !endif
!macroend

; Writes a manifest as UTF-8 (the browsers read nothing else; NSIS's own FileWrite would write the
; system's ANSI code page, which breaks a folder under a Korean user name): the template's text
; with the installed host's path, escaped for JSON, in between.
!macro TorvoWriteManifest _file _head _tail
  StrCpy $5 "${_head}$1${_tail}"
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r5, i -1, p 0, i 0, p 0, p 0) i .r6'
  System::Alloc $6
  Pop $7
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r5, i -1, p r7, i r6, p 0, p 0) i .r6'
  IntOp $6 $6 - 1
  FileOpen $0 "$INSTDIR\${_file}" w
  System::Call 'kernel32::WriteFile(p r0, p r7, i r6, *i .r8, p 0) i .r9'
  FileClose $0
  System::Free $7
  StrCmp $9 "1" +2
    Abort "The manifest ${_file} could not be written."
!macroend

; $1 = $INSTDIR\torvo-toolbar-host.exe with each backslash doubled (a path holds no quote).
Function HostPathForJson
  StrCpy $1 ""
  StrCpy $2 "$INSTDIR\torvo-toolbar-host.exe"
  StrCpy $3 0
  loop:
    StrCpy $4 $2 1 $3
    StrCmp $4 "" done
    StrCmp $4 "\" 0 +2
      StrCpy $4 "\\"
    StrCpy $1 "$1$4"
    IntOp $3 $3 + 1
    Goto loop
  done:
FunctionEnd

Section "Torvo"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !insertmacro TorvoInstallFiles

  Call HostPathForJson
  !insertmacro TorvoWriteManifest "${TORVO_CHROMIUM_MANIFEST}" "${CHROMIUM_MANIFEST_HEAD}" "${CHROMIUM_MANIFEST_TAIL}"
  !insertmacro TorvoWriteManifest "${TORVO_FIREFOX_MANIFEST}" "${FIREFOX_MANIFEST_HEAD}" "${FIREFOX_MANIFEST_TAIL}"
  !insertmacro TorvoHostKeys TorvoRegisterHost

!ifdef TORVO_SYNC_PROGRAM
  CreateShortCut "$SMPROGRAMS\Torvo Sync.lnk" "$INSTDIR\${TORVO_SYNC_PROGRAM}"
!endif

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "DisplayName" "Torvo"
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "DisplayVersion" "${TORVO_VERSION}"
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "Publisher" "Torvo"
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${TORVO_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${TORVO_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${TORVO_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro TorvoRemoveFiles
  Delete "$INSTDIR\${TORVO_CHROMIUM_MANIFEST}"
  Delete "$INSTDIR\${TORVO_FIREFOX_MANIFEST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: whatever else a person put there stays.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Torvo Sync.lnk"
  !insertmacro TorvoHostKeys TorvoUnregisterHost
  DeleteRegKey HKCU "${TORVO_UNINSTALL_KEY}"
SectionEnd
