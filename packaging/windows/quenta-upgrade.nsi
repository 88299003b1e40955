; Installer of the Windows programs (makensis, Unicode). Saved as UTF-8 with BOM: without it makensis
; reads the script in the system code page. Built by scripts/package-windows.sh, which defines
; VERSION, STAGE (the folder with the files to install) and OUT_FILE.
; A 64-bit Unicode installer: the programs are 64-bit, and a 64-bit wine runs it without wine32.
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT_NAME "产品升级工具"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quenta-upgrade"
; The inbound firewall rule of both programs: device answers come to the tool's UDP listener
; (5360-5459) and to its private ports, so a dismissed firewall prompt would leave the list empty.
!define FIREWALL_RULE "产品升级工具 (quenta-upgrade)"

Name "${PRODUCT_NAME} ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\quenta-upgrade"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define MUI_ICON "${STAGE}\quenta-upgrade.ico"
!define MUI_UNICON "${STAGE}\quenta-upgrade.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quenta-upgrade.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; For every user: the shortcuts under the common Start menu, the entry under HKLM (64-bit view).
Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "${PRODUCT_NAME}"
    SetOutPath "$INSTDIR"
    File "${STAGE}\quenta-upgrade.exe"
    File "${STAGE}\quenta-upgrade-cli.exe"
    File "${STAGE}\说明.txt"
    File "${STAGE}\LICENSE.txt"
    File "${STAGE}\THIRD-PARTY-NOTICES.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT_NAME}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk" "$INSTDIR\quenta-upgrade.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\卸载${PRODUCT_NAME}.lnk" "$INSTDIR\uninstall.exe"

    ; The Add/Remove Programs entry.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quenta-upgrade.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ; Private and domain networks only; a reinstall replaces the rules instead of adding copies.
    ; A failing netsh (no firewall service) does not stop the installation: 说明.txt says what to allow.
    nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
    Pop $0
    nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\quenta-upgrade.exe" enable=yes profile=private,domain'
    Pop $0
    nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\quenta-upgrade-cli.exe" enable=yes profile=private,domain'
    Pop $0
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\quenta-upgrade.exe"
    Delete "$INSTDIR\quenta-upgrade-cli.exe"
    Delete "$INSTDIR\说明.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
    nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
    Pop $0
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT_NAME}\卸载${PRODUCT_NAME}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT_NAME}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
