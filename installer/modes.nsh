; The two modes, as MultiUser.nsh gives them, and which installed copy an uninstaller is.

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

; An uninstaller belongs to the install whose Apps entry names its own folder, whatever switch it
; was given, so removing one mode's copy never touches the other's keys. MultiUser would move
; $INSTDIR to the mode's recorded folder; the uninstaller always removes its own. A copy left
; behind by an install into another folder matches neither: it removes its files and no keys.
Function un.onInit
    Call un.NormalizeInstallFolder
    StrCpy $R0 $INSTDIR
    StrCpy $OwnFolder $INSTDIR
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

