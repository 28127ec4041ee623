; The Windows installer for quarrion_shell.exe: installs it for all users and registers it as the
; handler of "quarrion://" links. Built by CMake, which passes the product's version and names
; from the one place they are kept:
;   makensis -DVERSION=1.0.0.4 -DCOMPANY=... -DPRODUCT=... -DSHELL_EXE=<built exe>
;            -DICON=<icon> -DOUTFILE=<setup exe> quarrion_shell.nsi

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define SCHEME_KEY "Software\Classes\quarrion"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuarrionShell"
!define SHELL_NAME "quarrion_shell.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\${COMPANY}\Quarrion Shell"
; An upgrade goes where the installed copy is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "quarrion_shell_setup.exe"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${COMPANY}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro RequireAdministrator
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "Installing for all users needs an administrator account." /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend

Function .onInit
    SetShellVarContext all
    !insertmacro RequireAdministrator
FunctionEnd

Function un.onInit
    SetShellVarContext all
    !insertmacro RequireAdministrator
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "/oname=${SHELL_NAME}" "${SHELL_EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The link goes in as %1 without quotes: the program takes its argument text as it is and
    ; refuses a quoted link.
    WriteRegStr HKLM "${SCHEME_KEY}" "" "URL:Quarrion Protocol"
    WriteRegStr HKLM "${SCHEME_KEY}" "URL Protocol" ""
    WriteRegStr HKLM "${SCHEME_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr HKLM "${SCHEME_KEY}\shell\open\command" "" '"$INSTDIR\${SHELL_NAME}" %1'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; Tell Explorer and browsers that an association changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
    ; Another program may have taken the scheme over since; its registration stays.
    ReadRegStr $0 HKLM "${SCHEME_KEY}\shell\open\command" ""
    ${If} $0 == '"$INSTDIR\${SHELL_NAME}" %1'
        DeleteRegKey HKLM "${SCHEME_KEY}"
        System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    Delete "$INSTDIR\${SHELL_NAME}"
    Delete "$INSTDIR\uninstall.exe"
    ; A folder that is the uninstaller's own working folder cannot be removed.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    ; The company folder goes too, unless another of its programs is in it.
    ${GetParent} "$INSTDIR" $1
    RMDir "$1"
SectionEnd
