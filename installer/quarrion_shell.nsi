; The Windows installer for quarrion_shell.exe: installs it for everyone or for the current user
; only, and registers it as the handler of "quarrion://" links, with Default apps and under its
; friendly name. Built by CMake, which passes the product's version and names from the one place
; they are kept:
;   makensis -DVERSION=1.0.0.4 -DCOMPANY=... -DPRODUCT=... -DFOLDER=... -DID=... -DEARLIER_NAME=...
;            -DLANGUAGES=<the languages' !insertmacro Language lines>
;            -DSHELL_EXE=<program as shipped> -DRECORD_EXE=<quarrion_record.exe>
;            -DICON=<icon> -DDESKTOP_EXE=<quarrion_desktop.exe> -DDESKTOP_ICON=<png>
;            -DNOTICES=<THIRD-PARTY-NOTICES.txt>
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
!define NOTICES_NAME "THIRD-PARTY-NOTICES.txt"
; What the install changed, beside the program, for its uninstall (quarrion_record.exe).
!define RECORD_NAME "quarrion_record.dat"
; Its name in builds before the registration's record was kept in the hive, which read a record
; of this build as theirs: a file they do not know stops them (145) before they change anything.
!define EARLIER_RECORD_NAME "uninstall.dat"
; The files the record keeps the SHA-256 of, in the order setup writes them: the uninstaller last.
!define OUR_FILES '"${SHELL_NAME}" "${NOTICES_NAME}" uninstall.exe'
!define SCHEME_KEY "Software\Classes\quarrion"
!define PROGID "${COMPANY}.${ID}.Link"
!define PROGID_KEY "Software\Classes\${PROGID}"
!define APPLICATION_KEY "Software\Classes\Applications\${SHELL_NAME}"
!define CAPABILITIES_KEY "Software\${COMPANY}\${FOLDER}\Capabilities"
!define REGISTERED_APPS_KEY "Software\RegisteredApplications"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${ID}"
!define GAME_KEY "Software\Dunmarch\Quarrion"
!define OPEN_COMMAND '"$INSTDIR\${SHELL_NAME}" %1'

; A standard user runs it without a prompt (as invoker); an administrator is asked to elevate.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${COMPANY}\${FOLDER}"
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
; With the company, what a folder's uninstall.exe is recognised by: never the display name.
VIAddVersionKey /LANG=1033 "InternalName" "${ID}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "quarrion_shell_setup.exe"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${COMPANY}"

Var GameNote
Var Attempts ; writes of a file in use so far
Var FileName ; the file being written or removed, for the messages
Var NotRegistered ; the uninstaller's copy is not the installed one of its mode
Var OurFiles ; the uninstaller's: our files still as installed, each followed by |
Var PlanFile ; setup's plan of shared registry values, for quarrion_record.exe
Var PlanView ; "64" while the plan is for the 64-bit registry view
Var OwnFolder ; the uninstaller's own folder, for the messages
Var RequestedFolder ; the folder /D= gave, which the directory page shows
Var GivenFolder ; what /D= gave, for the messages
Var ForeignFile ; a file in the folder that is not ours, for the messages
Var EstimatedSize ; of our files, in KB

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
; other. Each language's own texts of this script are in languages/, NSIS' in its language files
; (and in languages/nsis/ what NSIS' file for it lacks).
; An uninstaller speaks the language its copy was installed in (the Apps entry's Language).
!define SCRIPT_DIR "${__FILEDIR__}" ; the macro runs in the generated file, elsewhere
!macro Language NAME
    ; What NSIS' file lacks, defined before it is read, keeps NSIS from falling back to English.
    !if /FileExists "${SCRIPT_DIR}\languages\nsis\${NAME}.nsh"
        !include "${SCRIPT_DIR}\languages\nsis\${NAME}.nsh"
    !endif
    !insertmacro MUI_LANGUAGE "${NAME}"
    !include "${SCRIPT_DIR}\languages\${NAME}.nsh"
!macroend
; One line for each language of QUARRION_LANGUAGES in CMakeLists.txt, English first.
!include "${LANGUAGES}"

!include "${__FILEDIR__}\tools.nsh"
!include "${__FILEDIR__}\folders.nsh"
!include "${__FILEDIR__}\modes.nsh"
!include "${__FILEDIR__}\registration.nsh"
!include "${__FILEDIR__}\linux_desktop.nsh"

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

; Before the finish page: without the game, links can only show the launcher's error message.
Function NoteMissingGame
    ReadRegStr $0 HKLM "${GAME_KEY}" "InstallPath"
    ${If} $0 == ""
        StrCpy $GameNote "$\r$\n$\r$\n$(GAME_MISSING)"
    ${EndIf}
FunctionEnd

Section "Install"
    !insertmacro OneAtATime
    Call PrepareInstallFolder
    Call WriteProgramFiles
    Call Register
    !insertmacro LinuxDesktop register "$PLUGINSDIR\quarrion-shell.png" "$(LINUX_NOT_REGISTERED)"
SectionEnd

; Nothing goes while a file of ours is in use (the program's error message may be open): the
; uninstall can be run again once it is closed. Under Wine, the Linux desktop's registration
; next: when it cannot be removed (a configuration folder that cannot be written), nothing else
; is, so the uninstall can be run again once that is put right. Then our files, each only while
; it is as installed, then the registration, then the uninstaller itself, kept until now to run
; again, the record and the folders the install made.
Section "Uninstall"
    Call un.WaitUntilOurFilesCanGo
    ; A copy whose Apps entry is gone (Wine's registry lost when its server was killed before it
    ; saved it, or a copy left behind) has no id: its registration is found by its prefix and
    ; mode, and goes while it runs this copy.
    StrCpy $2 ""
    ${If} $NotRegistered != 1
        ReadRegStr $2 SHCTX "${UNINSTALL_KEY}" "LinuxDesktopEntry"
    ${EndIf}
    !insertmacro LinuxDesktop unregister $2 "$(LINUX_NOT_REMOVED)"
    Call un.RemoveOurFiles
    ${If} $NotRegistered != 1
        Call un.Unregister
    ${EndIf}
    Call un.RemoveRecordAndFolders
SectionEnd
