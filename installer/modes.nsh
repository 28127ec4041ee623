; The two modes, as MultiUser.nsh gives them, and which installed copy an uninstaller is.

; One setup or uninstaller changes the machine at a time, of either mode: two at once would each
; act on what the other is changing. The lock is the process's until it ends, however it ends.
; Leaves in $0 1 when another held it first.
!macro OneAtATime
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Global\${COMPANY}.${ID}.Setup") p .r1'
    StrCpy $0 0
    ${If} $1 P<> 0
        System::Call 'kernel32::WaitForSingleObject(p r1, i 0) i .r2'
        ${If} $2 = 258 ; WAIT_TIMEOUT
            StrCpy $0 1
            System::Call 'kernel32::WaitForSingleObject(p r1, i -1) i .r2'
        ${EndIf}
    ${EndIf}
!macroend

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

; An uninstaller removes the copy in its own folder ($INSTDIR, in its one spelling), as the
; record there describes it, whatever switch it was given and whatever the registry says: the
; mode it was installed for, and whether it is still that mode's installed copy (the Apps entry
; names this folder, however spelt). Removing one mode's copy never touches the other's keys. A
; copy left behind by an install into another folder removes its files and no keys. A folder
; without a record of our install is not ours: nothing is removed.
Function un.onInit
    !insertmacro OneAtATime
    StrCpy $R0 $0
    Call un.NormalizeInstallFolder
    StrCpy $OwnFolder $INSTDIR
    Call un.ExtractRecordKeeper
    Call un.WritePlan
    !insertmacro RecordKeeper 'which-copy "$INSTDIR" "$PLUGINSDIR\plan.txt" ${OUR_FILES}'
    ; Another uninstall of this copy, run at the same time, has just removed it all.
    ${If} $0 == ${EXIT_NOT_A_COPY}
    ${AndIf} $R0 == 1
    ${AndIfNot} ${FileExists} "$INSTDIR\${RECORD_NAME}"
    ${AndIfNot} ${FileExists} "$INSTDIR\${EARLIER_RECORD_NAME}"
        SetErrorLevel 0
        Quit
    ${EndIf}
    ; Our company's key leads to another program's: nothing goes.
    ${If} $0 == ${EXIT_NOT_OURS}
        StrCpy $ForeignFile $1
        MessageBox MB_OK|MB_ICONSTOP "$(KEY_LINKED)" /SD IDOK
        SetErrorLevel ${EXIT_NOT_OURS}
        Quit
    ${EndIf}
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "$(NOT_A_COPY)" /SD IDOK
        SetErrorLevel ${EXIT_NOT_A_COPY}
        Quit
    ${EndIf}
    ${WordFind} $1 "|" "+1" $2 ; the mode
    ${WordFind} $1 "|" "+2" $3 ; registered, or left behind
    StrLen $4 "$2|$3|"
    StrCpy $OurFiles $1 "" $4
    ; The language this copy was installed in, before the first message.
    ${If} $3 == "registered"
        ${If} $2 == "AllUsers"
            ReadRegDWORD $4 HKLM "${UNINSTALL_KEY}" "Language"
        ${Else}
            ReadRegDWORD $4 HKCU "${UNINSTALL_KEY}" "Language"
        ${EndIf}
        ${IfThen} $4 != "" ${|} StrCpy $LANGUAGE $4 ${|}
    ${EndIf}
    !insertmacro RefuseAllUsersWithoutAdministrator "un." "$(ADMIN_TO_REMOVE)"
    !insertmacro MULTIUSER_UNINIT
    ${If} $2 == "CurrentUser"
        Call un.MultiUser.InstallMode.CurrentUser
    ${Else}
        Call un.MultiUser.InstallMode.AllUsers
        ${If} $MultiUser.InstallMode != "AllUsers"
            MessageBox MB_OK|MB_ICONSTOP "$(ADMIN_TO_REMOVE)" /SD IDOK
            Call un.QuitForAdministrator
        ${EndIf}
    ${EndIf}
    ${If} $3 != "registered"
        StrCpy $NotRegistered 1
        MessageBox MB_OK|MB_ICONINFORMATION "$(LEFT_BEHIND)" /SD IDOK
    ${EndIf}
    StrCpy $INSTDIR $OwnFolder
FunctionEnd
