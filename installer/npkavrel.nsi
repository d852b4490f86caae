; npkavrel-setup.exe: a per-user installer (no administrator rights) that puts
; the 32-bit and, on 64-bit Windows, the 64-bit plug-in into one folder each
; under %LOCALAPPDATA%\Programs\npkavrel and registers each folder where
; Gecko-family browsers look (HKCU\Software\MozillaPlugins\<id>, value Path).
; Running it again upgrades in place. The uninstaller removes exactly what the
; installer made. Built by makensis from the Windows build:
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DDLL_X86=... -DDLL_X64=... -DDECODER_X86=... -DDECODER_X64=...
;            -DOUTFILE=... npkavrel.nsi
Unicode true
; The name users expect; the shims Windows applies to "setup" programs are harmless here.
!pragma warning disable 9000
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh

!define PRODUCT "npkavrel"
!define DESCRIPTION "JPEG 2000 image viewer plug-in for web browsers"
!define VENDOR "npkavrel developers"
!define PLUGIN_ID "@npkavrel.example/npkavrel"
!define PLUGINS_KEY "Software\MozillaPlugins"
!define UNINSTALL_PARENT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALL_KEY "${UNINSTALL_PARENT}\npkavrel"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\npkavrel"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${VENDOR}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${VENDOR}"

!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString FinishText ${LANG_ENGLISH} "The JPEG 2000 plug-in is installed for this user. Restart your browser to use it."
LangString FinishText ${LANG_JAPANESE} "JPEG 2000 プラグインをこのユーザーにインストールしました。ブラウザーを再起動すると使えます。"

; One plug-in folder and its MozillaPlugins key.
!macro InstallPlugin ARCH DLL DECODER
    SetOutPath "$INSTDIR\${ARCH}"
    File "/oname=npkavrel.dll" "${DLL}"
    File "/oname=npkavrel-decoder.exe" "${DECODER}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "Path" "$INSTDIR\${ARCH}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "Description" "${DESCRIPTION}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "ProductName" "${PRODUCT}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "Vendor" "${VENDOR}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "Version" "${VERSION}"
    WriteRegStr HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}" "GeckoVersion" "1.8"
!macroend

!macro RemovePlugin ARCH
    Delete "$INSTDIR\${ARCH}\npkavrel.dll"
    Delete "$INSTDIR\${ARCH}\npkavrel-decoder.exe"
    RMDir "$INSTDIR\${ARCH}"
    DeleteRegKey HKCU "${PLUGINS_KEY}\${PLUGIN_ID}-${ARCH}"
!macroend

; Remembers (once, so an upgrade keeps the first answer) whether a shared
; key or folder was missing before we made it: the uninstaller removes it
; (when empty) only then. EXISTED is 1 when it was there.
!macro NoteIfMissing FLAG EXISTED
    ClearErrors
    ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "${FLAG}"
    ${If} ${Errors}
        StrCpy $0 1
        ${If} ${EXISTED} == 1
            StrCpy $0 0
        ${EndIf}
        WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${FLAG}" $0
    ${EndIf}
!macroend

; Sets VAR to 1 when the HKCU key exists, else 0.
!macro KeyExists VAR KEY
    ClearErrors
    EnumRegKey ${VAR} HKCU "${KEY}" 0
    StrCpy ${VAR} 1
    ${If} ${Errors}
        StrCpy ${VAR} 0
    ${EndIf}
!macroend

!macro RemoveIfMade FLAG KEY
    ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "${FLAG}"
    ${If} $0 == 1
        DeleteRegKey /ifempty HKCU "${KEY}"
    ${EndIf}
!macroend

Function .onInit
    SetShellVarContext current
FunctionEnd

Section "Plug-in"
    ; Asked before anything is written, so they see the machine as it was.
    !insertmacro KeyExists $1 "${PLUGINS_KEY}"
    !insertmacro KeyExists $2 "${UNINSTALL_PARENT}"
    StrCpy $3 0
    ${If} ${FileExists} "$LOCALAPPDATA\Programs\*.*"
        StrCpy $3 1
    ${EndIf}
    !insertmacro NoteIfMissing "MadePluginsKey" $1
    !insertmacro NoteIfMissing "MadeUninstallParent" $2
    !insertmacro NoteIfMissing "MadeProgramsFolder" $3

    !insertmacro InstallPlugin x86 "${DLL_X86}" "${DECODER_X86}"
    ${If} ${RunningX64}
        !insertmacro InstallPlugin x64 "${DLL_X64}" "${DECODER_X64}"
    ${EndIf}

    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (JPEG 2000 plug-in)"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${VENDOR}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Uninstall"
    !insertmacro RemovePlugin x86
    !insertmacro RemovePlugin x64
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "MadeProgramsFolder"
    ${If} $1 == 1
        RMDir "$LOCALAPPDATA\Programs"
    ${EndIf}
    !insertmacro RemoveIfMade "MadePluginsKey" "${PLUGINS_KEY}"
    ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "MadeUninstallParent"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${If} $1 == 1
        DeleteRegKey /ifempty HKCU "${UNINSTALL_PARENT}"
    ${EndIf}
SectionEnd
