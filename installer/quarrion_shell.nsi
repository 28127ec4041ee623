; The Windows installer for quarrion_shell.exe: installs it for everyone or for the current user
; only, and registers it as the handler of "quarrion://" links, with Default apps and under its
; friendly name. Built by CMake, which passes the product's version and names from the one place
; they are kept:
;   makensis -DVERSION=1.0.0.4 -DCOMPANY=... -DPRODUCT=... -DSHELL_EXE=<program as shipped>
;            -DICON=<icon> -DDESKTOP_EXE=<quarrion_desktop.exe> -DDESKTOP_ICON=<png>
;            -DOUTFILE=<setup exe> -DFINALIZE=<command> quarrion_shell.nsi
; where FINALIZE is tools/finalize_pe.py with its options, run on each executable NSIS writes.
; makensis runs it through a shell, so it and the paths are relative, holding nothing that shell
; would act on.
;
; Modes, as MultiUser.nsh gives them: /AllUsers (Program Files, HKLM; needs an administrator) or
; /CurrentUser (%LOCALAPPDATA%\Programs, HKCU; needs nothing). Without a switch an administrator
; installs for everyone and anyone else for themselves; interactive installs ask on a page.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

; The uninstaller, before it is packed, and then the installer get the build's time stamp and,
; for a signed release, their signatures.
!uninstfinalize "${FINALIZE} '%1'" = 0
!finalize "${FINALIZE} '%1'" = 0

!define SHELL_NAME "quarrion_shell.exe"
!define SCHEME_KEY "Software\Classes\quarrion"
!define PROGID "Tabrix.QuarrionShell.Link"
!define PROGID_KEY "Software\Classes\${PROGID}"
!define APPLICATION_KEY "Software\Classes\Applications\${SHELL_NAME}"
!define CAPABILITIES_KEY "Software\${COMPANY}\Quarrion Shell\Capabilities"
!define REGISTERED_APPS_KEY "Software\RegisteredApplications"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuarrionShell"
!define GAME_KEY "Software\Dunmarch\Quarrion"
; The scheme's registration as another program had it before this install took the scheme over.
!define PREVIOUS_HANDLER_KEY "Software\${COMPANY}\Quarrion Shell\PreviousHandler"
!define OPEN_COMMAND '"$INSTDIR\${SHELL_NAME}" %1'

; A standard user runs it without a prompt (as invoker); an administrator is asked to elevate.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${COMPANY}\Quarrion Shell"
; An upgrade goes where that mode's installed copy is.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INIT_FUNCTIONQUIT QuitForAdministrator
!define MULTIUSER_INIT_un.FUNCTIONQUIT un.QuitForAdministrator
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
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

Var GameNote
Var Attempts ; writes of a file in use so far
Var FileName ; the file being written, for the messages
Var NotRegistered ; the uninstaller's copy is not the installed one of either mode
Var RequestedFolder ; the folder /D= gave, which the directory page shows
Var CreatedFolders ; the folders this copy's install made, innermost first, each ending in |

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
; Room for titles that take three lines in some languages (Spanish, with the product's name).
!define MUI_WELCOMEPAGE_TITLE_3LINES
!define MUI_FINISHPAGE_TITLE_3LINES
!insertmacro MUI_PAGE_WELCOME
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!define MUI_PAGE_CUSTOMFUNCTION_PRE ShowRequestedFolder
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckChosenFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE NoteMissingGame
!define MUI_FINISHPAGE_TEXT_LARGE ; three paragraphs, longer in some languages
!define MUI_FINISHPAGE_TEXT "$(FINISH_TEXT)$GameNote$\r$\n$\r$\n$(CLICK_FINISH)"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The player's Windows display language picks one, with no dialog; English, the first, is for any
; other. Each language's own texts of this script are in languages/, NSIS' in its language files.
; An uninstaller speaks the language its copy was installed in (the Apps entry's Language).
!macro Language NAME
    !insertmacro MUI_LANGUAGE "${NAME}"
    !include "${__FILEDIR__}\languages\${NAME}.nsh"
!macroend
!insertmacro Language "English"
!insertmacro Language "German"
!insertmacro Language "French"
!insertmacro Language "Spanish"
!insertmacro Language "Italian"
!insertmacro Language "PortugueseBR"
!insertmacro Language "Polish"
!insertmacro Language "Russian"
!insertmacro Language "Ukrainian"
!insertmacro Language "Czech"
!insertmacro Language "SimpChinese"
!insertmacro Language "Japanese"

; Ends setup when a mode needs an administrator that this account is not.
!macro DefineQuitForAdministrator UN
    Function ${UN}QuitForAdministrator
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    FunctionEnd
!macroend
!insertmacro DefineQuitForAdministrator ""
!insertmacro DefineQuitForAdministrator "un."

; MultiUser's own box for /AllUsers without an administrator has no silent default, so a silent
; deployment would wait on a box nobody sees. This check comes first and has one: /S ends at
; once with 740.
!macro RefuseAllUsersWithoutAdministrator UN TEXT
    ${${UN}GetParameters} $0
    ClearErrors
    ${${UN}GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
        UserInfo::GetAccountType
        Pop $1
        ${If} $1 != "Admin"
        ${AndIf} $1 != "Power"
            MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
            Call ${UN}QuitForAdministrator
        ${EndIf}
    ${EndIf}
!macroend

; Exit codes of a failed install, Windows' own error numbers (`net helpmsg <code>` explains each).
; A failure comes before anything is registered, so an earlier install's registration and Apps
; entry stay as they were.
!define EXIT_IN_USE 32 ; ERROR_SHARING_VIOLATION: quarrion_shell.exe stayed in use
!define EXIT_CANNOT_WRITE 82 ; ERROR_CANNOT_MAKE: the folder or a file in it cannot be written
!define EXIT_NOT_OURS 145 ; ERROR_DIR_NOT_EMPTY: the folder holds files of another program
!define EXIT_BAD_FOLDER 267 ; ERROR_DIRECTORY: /D= names nothing that can be an install folder
!define EXIT_OTHER_MODE 183 ; ERROR_ALREADY_EXISTS: the folder holds the other mode's copy
; Under Wine, installed (or removed) for Windows programs, but not for the Linux desktop's.
!define EXIT_NO_LINUX_HANDLER 1155 ; ERROR_NO_ASSOCIATION

; Says why setup stops, in a box unless silent, and stops it with CODE.
!macro FailInstall CODE TEXT
    DetailPrint "${TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Abort
!macroend

Function .onInit
    ; /D= chooses the folder; MultiUser would otherwise replace it with the mode's default.
    StrCpy $R0 $INSTDIR
    !insertmacro RefuseAllUsersWithoutAdministrator "" "$(ADMIN_TO_INSTALL)"
    !insertmacro MULTIUSER_INIT
    ${If} $R0 != ""
        StrCpy $INSTDIR $R0
    ${EndIf}
    Call CheckRequestedFolder
FunctionEnd

; NSIS drops a /D= it cannot use (a relative path, "C:/x", a file, one after a tab) and goes on
; with the default folder; a quoted one it does not see at all. Either would install where nobody
; asked. /D= takes the rest of the line, so a switch after it would become part of the folder.
Function CheckRequestedFolder
    System::Call 'kernel32::GetCommandLineW() t .r0'
    StrLen $1 $0
    StrCpy $2 0
    ${Do}
        ${IfThen} $2 >= $1 ${|} Return ${|}
        StrCpy $3 $0 4 $2
        IntOp $2 $2 + 1
        ${If} $3 == " /D="
        ${OrIf} $3 == "$\t/D="
        ${OrIf} $3 == '"/D='
            ${ExitDo}
        ${EndIf}
    ${Loop}
    IntOp $2 $2 + 3
    StrCpy $0 $0 "" $2
    ; As NSIS reads it: one separator at the end goes.
    StrCpy $1 $0 1 -1
    ${IfThen} $1 == "\" ${|} StrCpy $0 $0 -1 ${|}
    ; No folder name holds "/": a word that begins with one is a switch.
    StrCpy $1 ""
    StrCpy $2 0
    ${Do}
        StrCpy $4 $0 1 $2
        ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
        IntOp $2 $2 + 1
        ${If} $4 == " "
        ${OrIf} $4 == "$\t"
            StrCpy $5 $0 1 $2
            ${IfThen} $5 == "/" ${|} StrCpy $1 "switch" ${|}
            ; /S among them: refused without a box, as asked.
            StrCpy $5 $0 3 $2
            ${If} $5 == "/S"
            ${OrIf} $5 == "/S "
            ${OrIf} $5 == "/S$\t"
                SetSilent silent
            ${EndIf}
        ${EndIf}
    ${Loop}
    ${If} $0 != $R0
    ${OrIf} $3 == '"/D='
    ${OrIf} $1 != ""
        !insertmacro FailInstall ${EXIT_BAD_FOLDER} "$(BAD_FOLDER)"
    ${EndIf}
    StrCpy $RequestedFolder $0
FunctionEnd

; The install-mode page sets the mode's own folder; a folder given with /D= is shown instead.
Function ShowRequestedFolder
    ${If} $RequestedFolder != ""
        StrCpy $INSTDIR $RequestedFolder
    ${EndIf}
FunctionEnd

; $INSTDIR in one spelling, the one its uninstaller finds: as Windows resolves it ("." and ".."
; gone, "/" as "\", no separator at the end), without a \\?\ prefix, and with the long names of
; the folders that exist, not their 8.3 names.
!macro DefineNormalizeInstallFolder UN
    Function ${UN}NormalizeInstallFolder
        StrCpy $0 $INSTDIR 8
        StrCpy $1 $INSTDIR 4
        ${If} $0 == "\\?\UNC\"
            StrCpy $INSTDIR $INSTDIR "" 8
            StrCpy $INSTDIR "\\$INSTDIR"
        ${ElseIf} $1 == "\\?\"
            StrCpy $INSTDIR $INSTDIR "" 4
        ${EndIf}
        System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r1'
        ${If} $1 > 0
        ${AndIf} $1 < ${NSIS_MAX_STRLEN}
            StrCpy $INSTDIR $0
        ${EndIf}
        StrCpy $0 $INSTDIR 1 -1
        StrLen $1 $INSTDIR
        ${If} $0 == "\"
        ${AndIf} $1 > 3
            StrCpy $INSTDIR $INSTDIR -1
        ${EndIf}
        ; The longest part that exists, then the rest as given.
        StrCpy $0 $INSTDIR
        StrCpy $1 ""
        ${DoUntil} ${FileExists} "$0\*.*"
            ${GetFileName} $0 $2
            ${GetParent} $0 $0
            StrCpy $1 "\$2$1"
            ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
        ${Loop}
        ${If} $0 != ""
            System::Call 'kernel32::GetLongPathNameW(w r0, w .r2, i ${NSIS_MAX_STRLEN}) i .r3'
            ${If} $3 > 0
            ${AndIf} $3 < ${NSIS_MAX_STRLEN}
                StrCpy $INSTDIR "$2$1"
            ${EndIf}
        ${EndIf}
    FunctionEnd
!macroend
!insertmacro DefineNormalizeInstallFolder ""
!insertmacro DefineNormalizeInstallFolder "un."

; Text KEY of FILE's version block (U.S. English, Unicode), or "" when it has none.
; Push FILE, Push KEY, Call VersionText, Pop the text.
Function VersionText
    Exch $1
    Exch
    Exch $0
    Push $2
    Push $3
    Push $4
    Push $5
    StrCpy $5 ""
    System::Call 'version::GetFileVersionInfoSizeW(w r0, p 0) i .r2'
    ${If} $2 > 0
        System::Alloc $2
        Pop $3
        System::Call 'version::GetFileVersionInfoW(w r0, i 0, i r2, p r3) i .r4'
        ${If} $4 <> 0
            System::Call 'version::VerQueryValueW(p r3, w "\StringFileInfo\040904b0\$1", *p .r4, *i .r2) i .r0'
            ${If} $0 <> 0
                System::Call '*$4(&w$2 .r5)'
            ${EndIf}
        ${EndIf}
        System::Free $3
    ${EndIf}
    StrCpy $0 $5
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Exch
    Pop $1
    Exch $0
FunctionEnd

; Leaves in $0 the name of the first file in $INSTDIR that is not this program's, or "": ours
; are a file quarrion_shell.exe and an uninstall.exe that carries our company and product names.
; A game's folder, say, holds its own uninstall.exe, which ours would overwrite and then delete.
Function FindForeignFile
    StrCpy $0 ""
    ClearErrors
    FindFirst $1 $2 "$INSTDIR\*"
    ${DoWhile} $2 != ""
        ${If} $2 != "."
        ${AndIf} $2 != ".."
            StrCpy $0 $2
            ${If} $2 == "${SHELL_NAME}"
            ${AndIfNot} ${FileExists} "$INSTDIR\$2\*.*"
                StrCpy $0 ""
            ${ElseIf} $2 == "uninstall.exe"
                Push "$INSTDIR\uninstall.exe"
                Push "CompanyName"
                Call VersionText
                Pop $3
                Push "$INSTDIR\uninstall.exe"
                Push "ProductName"
                Call VersionText
                Pop $4
                ${If} "$3|$4" == "${COMPANY}|${PRODUCT}"
                    StrCpy $0 ""
                ${EndIf}
            ${EndIf}
            ${IfThen} $0 != "" ${|} ${ExitDo} ${|}
        ${EndIf}
        FindNext $1 $2
    ${Loop}
    FindClose $1
FunctionEnd

; Leaves in $0 "yes" when $INSTDIR is where the other mode's copy is installed: one folder holds
; one copy, or removing either would take the other's files.
Function FindOtherModesCopy
    ${If} $MultiUser.InstallMode == "AllUsers"
        ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${Else}
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $0 == $INSTDIR
        StrCpy $0 "yes"
    ${Else}
        StrCpy $0 ""
    ${EndIf}
FunctionEnd

; The directory page keeps a player on it until the folder is one setup may use.
Function CheckChosenFolder
    Call NormalizeInstallFolder
    Call FindForeignFile
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(NOT_OURS)" /SD IDOK
        Abort
    ${EndIf}
    Call FindOtherModesCopy
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(OTHER_MODE_HERE)" /SD IDOK
        Abort
    ${EndIf}
FunctionEnd

; A file of ours in use (the program's error message may be open) is tried again for five
; seconds, then, unless silent, as often as the player asks; otherwise the run ends with 32.
!macro WaitWhileInUse FAIL_TEXT
    IntOp $Attempts $Attempts + 1
    ${If} $Attempts < 20
        Sleep 250
    ${Else}
        ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(IN_USE_ASK)" /SD IDCANCEL IDCANCEL`
            !insertmacro FailInstall ${EXIT_IN_USE} "${FAIL_TEXT}"
        ${EndIf}
        StrCpy $Attempts 0
    ${EndIf}
!macroend

; Writes one file of ours, as COMMAND does, and stops setup when it cannot.
!macro WriteOurFile NAME COMMAND
    StrCpy $FileName "${NAME}"
    StrCpy $Attempts 0
    ${Do}
        ClearErrors
        ${COMMAND}
        ${IfNot} ${Errors}
            ${ExitDo}
        ${EndIf}
        ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
            !insertmacro FailInstall ${EXIT_CANNOT_WRITE} "$(CANNOT_WRITE)"
        ${EndIf}
        !insertmacro WaitWhileInUse "$(IN_USE_FAIL)"
    ${Loop}
!macroend

; Removes one file of ours, and stops the uninstall, before anything else is removed, when it
; cannot: a copy left registered can be removed again once the program is closed.
!macro RemoveOurFile NAME
    StrCpy $FileName "${NAME}"
    StrCpy $Attempts 0
    ${DoWhile} ${FileExists} "$INSTDIR\${NAME}"
        Delete "$INSTDIR\${NAME}"
        ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
            ${ExitDo}
        ${EndIf}
        !insertmacro WaitWhileInUse "$(UN_IN_USE_FAIL)"
    ${Loop}
!macroend

; Before the finish page: without the game, links can only show the launcher's error message.
Function NoteMissingGame
    ReadRegStr $0 HKLM "${GAME_KEY}" "InstallPath"
    ${If} $0 == ""
        StrCpy $GameNote "$\r$\n$\r$\n$(GAME_MISSING)"
    ${EndIf}
FunctionEnd

; The program a registered command starts: up to the closing quote, or up to the first blank.
; Takes the command on the stack and leaves the program there.
!macro DefineProgramOfCommand UN
    Function ${UN}ProgramOfCommand
        Exch $0
        Push $1
        Push $2
        Push $3
        StrCpy $1 $0 1
        ${If} $1 == '"'
            StrCpy $0 $0 "" 1
            StrCpy $2 '"'
        ${Else}
            StrCpy $2 ' '
        ${EndIf}
        StrCpy $1 0
        ${Do}
            StrCpy $3 $0 1 $1
            ${IfThen} $3 == $2 ${|} ${ExitDo} ${|}
            ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
            IntOp $1 $1 + 1
        ${Loop}
        StrCpy $0 $0 $1
        Pop $3
        Pop $2
        Pop $1
        Exch $0
    FunctionEnd
!macroend
!insertmacro DefineProgramOfCommand ""
!insertmacro DefineProgramOfCommand "un."

; Before taking the scheme over, keeps another program's registration to give back on uninstall:
; its command, name and icon. Another copy of this program, or this copy again, is not kept.
Function KeepPreviousHandler
    ReadRegStr $0 SHCTX "${SCHEME_KEY}\shell\open\command" ""
    ${If} $0 == ""
        Return
    ${EndIf}
    Push $0
    Call ProgramOfCommand
    Pop $1
    ${GetFileName} $1 $1
    ${If} $1 == "${SHELL_NAME}"
        Return
    ${EndIf}
    WriteRegStr SHCTX "${PREVIOUS_HANDLER_KEY}" "Command" $0
    ReadRegStr $0 SHCTX "${SCHEME_KEY}" ""
    WriteRegStr SHCTX "${PREVIOUS_HANDLER_KEY}" "Name" $0
    ReadRegStr $0 SHCTX "${SCHEME_KEY}\DefaultIcon" ""
    WriteRegStr SHCTX "${PREVIOUS_HANDLER_KEY}" "Icon" $0
FunctionEnd

; Settings, Default apps is drawn by the 64-bit shell, which reads HKLM\Software in the native
; view; for a 32-bit installer that is WOW6432Node on 64-bit Windows. HKCU\Software and the
; classes are the same in both views.
!macro DefaultAppsView
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
!macroend

; Removes the Default apps registration from the view in use.
!macro RemoveDefaultApps
    DeleteRegValue SHCTX "${REGISTERED_APPS_KEY}" "${PRODUCT}"
    DeleteRegKey /ifempty SHCTX "${REGISTERED_APPS_KEY}"
    DeleteRegKey SHCTX "${CAPABILITIES_KEY}"
    DeleteRegKey /ifempty SHCTX "Software\${COMPANY}\Quarrion Shell"
    DeleteRegKey /ifempty SHCTX "Software\${COMPANY}"
!macroend

; Under Wine, browsers and chat programs are Linux programs: they ask the Linux desktop, not
; Windows, what opens a quarrion:// link. quarrion_desktop.exe registers the installed program
; there for the user who runs setup (ACTION register, LAST the icon), or removes that
; (unregister, LAST the id that register printed, kept in the Apps entry so that the uninstall
; finds it however the prefix's path is spelt then). Wine is known by ntdll's wine_get_version;
; on Windows nothing of this runs.
!macro LinuxDesktop ACTION LAST TEXT
    System::Call 'kernel32::GetModuleHandleW(w "ntdll.dll") p .r0'
    System::Call 'kernel32::GetProcAddress(p r0, m "wine_get_version") p .r0'
    ${If} $0 <> 0
        InitPluginsDir
        ; Files in the temp folder keep no date: one stored would vary from build to build.
        SetDateSave off
        File "/oname=$PLUGINSDIR\quarrion_desktop.exe" "${DESKTOP_EXE}"
        File "/oname=$PLUGINSDIR\quarrion-shell.png" "${DESKTOP_ICON}"
        SetDateSave on
        nsExec::ExecToStack '"$PLUGINSDIR\quarrion_desktop.exe" ${ACTION} $MultiUser.InstallMode "$INSTDIR" "${LAST}"'
        Pop $0 ; its exit status, or "error" when it could not run
        Pop $1 ; what it said
        ${If} $0 != 0
            DetailPrint "${TEXT} $1"
            MessageBox MB_OK|MB_ICONEXCLAMATION "${TEXT}$\r$\n$\r$\n$1" /SD IDOK
            SetErrorLevel ${EXIT_NO_LINUX_HANDLER}
        ${ElseIf} "${ACTION}" == register
            WriteRegStr SHCTX "${UNINSTALL_KEY}" "LinuxDesktopEntry" $1
        ${EndIf}
    ${EndIf}
!macroend

; Every key below goes to the hive of the mode (SHCTX): HKLM for everyone, HKCU for one user.
Section "Install"
    Call NormalizeInstallFolder
    Call FindForeignFile
    ${If} $0 != ""
        !insertmacro FailInstall ${EXIT_NOT_OURS} "$(NOT_OURS)"
    ${EndIf}
    Call FindOtherModesCopy
    ${If} $0 != ""
        !insertmacro FailInstall ${EXIT_OTHER_MODE} "$(OTHER_MODE_HERE)"
    ${EndIf}
    ; The folders this install makes, so that its uninstall removes those and no other; an
    ; upgrade in place keeps the record of the install that made them.
    StrCpy $CreatedFolders ""
    StrCpy $0 $INSTDIR
    ${DoUntil} ${FileExists} "$0\*.*"
        StrCpy $CreatedFolders "$CreatedFolders$0|"
        ${GetParent} $0 $0
        ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
    ${Loop}
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
    ${AndIf} $CreatedFolders == ""
        ReadRegStr $CreatedFolders SHCTX "${UNINSTALL_KEY}" "CreatedFolders"
    ${EndIf}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
    ${OrIfNot} ${FileExists} "$INSTDIR\*.*"
        !insertmacro FailInstall ${EXIT_CANNOT_WRITE} "$(CANNOT_CREATE)"
    ${EndIf}
    SetOutPath "$INSTDIR"
    ; A file that cannot be written sets the error flag instead of asking, silently or not.
    SetOverwrite try
    !insertmacro WriteOurFile "${SHELL_NAME}" 'File "/oname=${SHELL_NAME}" "${SHELL_EXE}"'
    !insertmacro WriteOurFile "uninstall.exe" 'WriteUninstaller "$INSTDIR\uninstall.exe"'
    SetOverwrite on

    ; The link goes in as %1 without quotes: the program takes its argument text as it is and
    ; refuses a quoted link.
    Call KeepPreviousHandler
    WriteRegStr SHCTX "${SCHEME_KEY}" "" "URL:Quarrion Protocol"
    WriteRegStr SHCTX "${SCHEME_KEY}" "URL Protocol" ""
    WriteRegStr SHCTX "${SCHEME_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr SHCTX "${SCHEME_KEY}\shell\open\command" "" '${OPEN_COMMAND}'

    ; Default apps lists link handlers registered here, and lets the user choose ours.
    WriteRegStr SHCTX "${PROGID_KEY}" "" "Quarrion link"
    WriteRegStr SHCTX "${PROGID_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr SHCTX "${PROGID_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    !insertmacro DefaultAppsView
    WriteRegStr SHCTX "${CAPABILITIES_KEY}" "ApplicationName" "${PRODUCT}"
    WriteRegStr SHCTX "${CAPABILITIES_KEY}" "ApplicationDescription" \
        "Opens quarrion:// links: starts Quarrion and joins the server the link names."
    WriteRegStr SHCTX "${CAPABILITIES_KEY}" "ApplicationIcon" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr SHCTX "${CAPABILITIES_KEY}\URLAssociations" "quarrion" "${PROGID}"
    WriteRegStr SHCTX "${REGISTERED_APPS_KEY}" "${PRODUCT}" "${CAPABILITIES_KEY}"
    SetRegView default
    ; Earlier versions wrote them where 64-bit Windows hides them from the shell.
    ${If} ${RunningX64}
    ${AndIf} $MultiUser.InstallMode == "AllUsers"
        !insertmacro RemoveDefaultApps
    ${EndIf}
    ; The name browsers show when they ask whether to open the link.
    WriteRegStr SHCTX "${APPLICATION_KEY}" "FriendlyAppName" "${PRODUCT}"

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "Language" $LANGUAGE
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "CreatedFolders" "$CreatedFolders"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ; Our two files only, in KB.
    ${GetSize} "$INSTDIR" "/M=${SHELL_NAME} /S=0B /G=0" $0 $1 $2
    ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0B /G=0" $3 $1 $2
    IntOp $0 $0 + $3
    IntOp $0 $0 + 1023
    IntOp $0 $0 / 1024
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; Tell Explorer and browsers that an association changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    !insertmacro LinuxDesktop register "$PLUGINSDIR\quarrion-shell.png" "$(LINUX_NOT_REGISTERED)"
SectionEnd

; An uninstaller belongs to the install whose Apps entry names its own folder, whatever switch it
; was given, so removing one mode's copy never touches the other's keys. MultiUser would move
; $INSTDIR to the mode's recorded folder; the uninstaller always removes its own. A copy left
; behind by an install into another folder matches neither: it removes its files and no keys.
Function un.onInit
    Call un.NormalizeInstallFolder
    StrCpy $R0 $INSTDIR
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ; The language this copy was installed in, before the first message.
    ${If} $0 == $R0
        ReadRegDWORD $2 HKCU "${UNINSTALL_KEY}" "Language"
    ${ElseIf} $1 == $R0
        ReadRegDWORD $2 HKLM "${UNINSTALL_KEY}" "Language"
    ${EndIf}
    ${If} $2 != ""
        StrCpy $LANGUAGE $2
    ${EndIf}
    !insertmacro RefuseAllUsersWithoutAdministrator "un." "$(ADMIN_TO_REMOVE)"
    !insertmacro MULTIUSER_UNINIT
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $R0
        Call un.MultiUser.InstallMode.CurrentUser
    ${ElseIf} $1 == $R0
        Call un.MultiUser.InstallMode.AllUsers
        ${If} $MultiUser.InstallMode != "AllUsers"
            MessageBox MB_OK|MB_ICONSTOP "$(ADMIN_TO_REMOVE)" /SD IDOK
            Call un.QuitForAdministrator
        ${EndIf}
    ${Else}
        StrCpy $NotRegistered 1
        MessageBox MB_OK|MB_ICONINFORMATION "$(LEFT_BEHIND)" /SD IDOK
    ${EndIf}
    StrCpy $INSTDIR $R0
FunctionEnd

; Writes a text kept from the registry back as an expandable string when it holds environment
; variables, as it will have been one.
!macro WriteRegKeptText KEY TEXT
    ExpandEnvStrings $9 "${TEXT}"
    ${If} $9 == "${TEXT}"
        WriteRegStr SHCTX "${KEY}" "" "${TEXT}"
    ${Else}
        WriteRegExpandStr SHCTX "${KEY}" "" "${TEXT}"
    ${EndIf}
!macroend

; Leaves "yes" on the stack when FILE may be a program that is there, "" when it is shown to be
; gone: a full path is looked at, with ".exe" added when it has no extension, as process creation
; does; a bare name is looked for on the search path; anything else (relative, on a network
; share that may be away) is not shown gone.
Function un.ProgramFileMayBeThere
    Exch $0
    Push $1
    Push $2
    StrCpy $1 $0 1 1
    StrCpy $2 $0 2
    ${If} $0 == ""
        StrCpy $0 ""
    ${ElseIf} $1 == ":"
        ${GetFileExt} $0 $1
        ${IfThen} $1 == "" ${|} StrCpy $0 "$0.exe" ${|}
        System::Call 'kernel32::GetFileAttributesW(w r0) i .r1'
        IntOp $2 $1 & 0x10 ; a folder
        ${If} $1 <> -1
        ${AndIf} $2 = 0
            StrCpy $0 "yes"
        ${Else}
            StrCpy $0 ""
        ${EndIf}
    ${ElseIf} $2 == "\\"
        StrCpy $0 "yes"
    ${Else}
        ClearErrors
        ${WordFind} $0 "\" "E+1" $1
        ${If} ${Errors}
            System::Call 'kernel32::SearchPathW(p 0, w r0, w ".exe", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r2'
            ${If} $2 > 0
                StrCpy $0 "yes"
            ${Else}
                StrCpy $0 ""
            ${EndIf}
        ${Else}
            StrCpy $0 "yes"
        ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Leaves "yes" on the stack when the program of COMMAND (on the stack) may still be there, read
; as Windows runs it: environment variables as a 64-bit program sees them (%ProgramFiles% the
; native folder), System32 without file-system redirection, and an unquoted path with blanks
; tried at each blank, as process creation does. "" only when it is shown to be gone.
Function un.ProgramMayBeThere
    Exch $0
    Push $1
    Push $2
    Push $3
    ${If} ${RunningX64}
        ${WordReplace} $0 "%ProgramFiles%" "%ProgramW6432%" "+" $0
        ${WordReplace} $0 "%CommonProgramFiles%" "%CommonProgramW6432%" "+" $0
        ${DisableX64FSRedirection}
    ${EndIf}
    ExpandEnvStrings $0 $0
    StrCpy $1 $0 1
    ${If} $1 == '"'
        Push $0
        Call un.ProgramOfCommand
        Call un.ProgramFileMayBeThere
        Pop $1
    ${Else}
        StrCpy $1 ""
        StrCpy $2 0
        ${Do}
            StrCpy $3 $0 1 $2
            ${If} $3 == " "
            ${OrIf} $3 == ""
                StrCpy $3 $0 $2
                Push $3
                Call un.ProgramFileMayBeThere
                Pop $1
                StrCpy $3 $0 1 $2
            ${EndIf}
            ${IfThen} $1 != "" ${|} ${ExitDo} ${|}
            ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
            IntOp $2 $2 + 1
        ${Loop}
    ${EndIf}
    ${If} ${RunningX64}
        ${EnableX64FSRedirection}
    ${EndIf}
    StrCpy $0 $1
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Gives the scheme back to the program it was taken from unless that program is shown to be
; gone; then removes it. Another program that took the scheme over since keeps it.
Function un.ReleaseScheme
    ReadRegStr $0 SHCTX "${SCHEME_KEY}\shell\open\command" ""
    ${If} $0 != '${OPEN_COMMAND}'
        Return
    ${EndIf}
    ReadRegStr $0 SHCTX "${PREVIOUS_HANDLER_KEY}" "Command"
    Push $0
    Call un.ProgramMayBeThere
    Pop $1
    ${If} $1 == ""
        DeleteRegKey SHCTX "${SCHEME_KEY}"
        Return
    ${EndIf}
    !insertmacro WriteRegKeptText "${SCHEME_KEY}\shell\open\command" $0
    ReadRegStr $0 SHCTX "${PREVIOUS_HANDLER_KEY}" "Name"
    WriteRegStr SHCTX "${SCHEME_KEY}" "" $0
    ReadRegStr $0 SHCTX "${PREVIOUS_HANDLER_KEY}" "Icon"
    ${If} $0 == ""
        DeleteRegKey SHCTX "${SCHEME_KEY}\DefaultIcon"
    ${Else}
        !insertmacro WriteRegKeptText "${SCHEME_KEY}\DefaultIcon" $0
    ${EndIf}
FunctionEnd

; The program first: while it cannot be removed, its registration stays, and the uninstall can
; be run again once it is closed. Then the registration, then the uninstaller itself, kept until
; now to run again, then the folders the install made.
Section "Uninstall"
    ${If} $NotRegistered != 1
        ReadRegStr $CreatedFolders SHCTX "${UNINSTALL_KEY}" "CreatedFolders"
    ${Else}
        StrCpy $CreatedFolders "$INSTDIR|" ; its own, once empty; nothing else is known of it
    ${EndIf}
    !insertmacro RemoveOurFile "${SHELL_NAME}"

    ${If} $NotRegistered != 1
        ReadRegStr $2 SHCTX "${UNINSTALL_KEY}" "LinuxDesktopEntry"
        !insertmacro LinuxDesktop unregister $2 "$(LINUX_NOT_REMOVED)"
        Call un.ReleaseScheme
        DeleteRegKey SHCTX "${PREVIOUS_HANDLER_KEY}"
        !insertmacro DefaultAppsView
        !insertmacro RemoveDefaultApps
        SetRegView default
        ; Also where earlier versions wrote it on 64-bit Windows; elsewhere it is already gone.
        !insertmacro RemoveDefaultApps
        DeleteRegKey SHCTX "${PROGID_KEY}"
        DeleteRegKey SHCTX "${APPLICATION_KEY}"
        DeleteRegKey SHCTX "${UNINSTALL_KEY}"
        System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    ${EndIf}

    Delete "$INSTDIR\uninstall.exe" ; unless this is it, run in place (_?=)
    ; A folder that is the uninstaller's own working folder cannot be removed.
    SetOutPath "$TEMP"
    ${Do}
        ${WordFind} $CreatedFolders "|" "+1" $0
        ${IfThen} $0 == $CreatedFolders ${|} ${ExitDo} ${|}
        RMDir $0 ; only when empty
        StrLen $1 $0
        IntOp $1 $1 + 1
        StrCpy $CreatedFolders $CreatedFolders "" $1
    ${Loop}
SectionEnd
