; The Windows installer of Varnel, built with Debian's nsis by scripts/package --windows:
;   makensis -DVERSION=<version> -DSTAGE=<folder with varnel.exe, varnel-headless.exe,
;            README.txt> -DOUTFILE=<exe>
; It installs for the current user (no administrator rights), into a folder where Varnel may
; keep its settings and logs, adds a Start-menu entry and an uninstaller. On request (a ticked
; component, or /AUTOSTART on the command line of a silent install) Varnel starts at login.
; A 64-bit installer for a 64-bit program (and one that a 64-bit-only Wine can run).
Target amd64-unicode
SetCompressor /SOLID lzma

Name "Varnel"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Varnel"
InstallDirRegKey HKCU "Software\Varnel" "InstallDir"
RequestExecutionLevel user
ShowInstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "Varnel"
VIAddVersionKey /LANG=2052 "FileDescription" "Varnel installer"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) 2026"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel"

!include "FileFunc.nsh"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Varnel"
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGE}\varnel.exe"
    File "${STAGE}\varnel-headless.exe"
    File "${STAGE}\README.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    ; The Start-menu entry starts Varnel in its folder: settings and logs go there.
    CreateDirectory "$SMPROGRAMS\Varnel"
    CreateShortcut "$SMPROGRAMS\Varnel\Varnel.lnk" "$INSTDIR\varnel.exe" "" "$INSTDIR\varnel.exe" 0
    CreateShortcut "$SMPROGRAMS\Varnel\Uninstall Varnel.lnk" "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "Software\Varnel" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Varnel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnel.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Unticked unless asked for: a shortcut in the user's Startup folder, started in Varnel's folder
; like the Start-menu entry.
Section /o "Start Varnel when I log in" SecAutostart
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMSTARTUP\Varnel.lnk" "$INSTDIR\varnel.exe" "" "$INSTDIR\varnel.exe" 0
SectionEnd

Function .onInit
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/AUTOSTART" $R1
    IfErrors +2
    SectionSetFlags ${SecAutostart} 1
FunctionEnd

Section "Uninstall"
    Delete "$INSTDIR\varnel.exe"
    Delete "$INSTDIR\varnel-headless.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\Uninstall.exe"
    Delete "$SMPROGRAMS\Varnel\Varnel.lnk"
    Delete "$SMPROGRAMS\Varnel\Uninstall Varnel.lnk"
    Delete "$SMSTARTUP\Varnel.lnk"
    RMDir "$SMPROGRAMS\Varnel"
    ; Settings and logs stay: the folder goes only when nothing else is left in it.
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\Varnel"
SectionEnd
