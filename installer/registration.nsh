; The registry: the scheme, taken over from another program and given back to it; Default apps,
; the ProgID and the friendly name; the Apps entry. Everything but the scheme is one list per
; place, which the install writes and the uninstall removes, so a value added to a list is
; removed with it.

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

; Keys of our own, in the mode's hive (SHCTX); the uninstall removes each key whole.
!macro ClassesRegistration DO
    ; Default apps lists link handlers registered here, and lets the user choose ours.
    !insertmacro ${DO}Text "${PROGID_KEY}" "" "Quarrion link"
    !insertmacro ${DO}Text "${PROGID_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${PROGID_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    ; The name browsers show when they ask whether to open the link.
    !insertmacro ${DO}Text "${APPLICATION_KEY}" "FriendlyAppName" "${PRODUCT}"
!macroend

; Settings, Default apps, in the view the shell reads (DefaultAppsView): our capabilities, and
; our value in the list of registered applications, which is not ours.
!macro DefaultAppsRegistration DO
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationName" "${PRODUCT}"
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationDescription" \
        "Opens quarrion:// links: starts Quarrion and joins the server the link names."
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationIcon" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}\URLAssociations" "quarrion" "${PROGID}"
    !insertmacro ${DO}SharedText "${REGISTERED_APPS_KEY}" "${PRODUCT}" "${CAPABILITIES_KEY}"
!macroend

; The Apps entry (Settings, Apps; Programs and Features). EstimatedSize comes in $EstimatedSize.
!macro AppsEntry DO
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "Language" $LANGUAGE
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "CreatedFolders" "$CreatedFolders"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "UninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "NoModify" 1
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "NoRepair" 1
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "EstimatedSize" $EstimatedSize
!macroend

; Values may hold double quotes, so they go in backquotes.
!macro WriteText KEY NAME VALUE
    WriteRegStr SHCTX "${KEY}" "${NAME}" `${VALUE}`
!macroend
!macro WriteSharedText KEY NAME VALUE
    !insertmacro WriteText "${KEY}" "${NAME}" `${VALUE}`
!macroend
!macro WriteNumber KEY NAME VALUE
    WriteRegDWORD SHCTX "${KEY}" "${NAME}" ${VALUE}
!macroend
!macro RemoveText KEY NAME VALUE
    DeleteRegKey SHCTX "${KEY}"
!macroend
!macro RemoveNumber KEY NAME VALUE
    !insertmacro RemoveText "${KEY}" "${NAME}" "${VALUE}"
!macroend
!macro RemoveSharedText KEY NAME VALUE
    DeleteRegValue SHCTX "${KEY}" "${NAME}"
    DeleteRegKey /ifempty SHCTX "${KEY}"
!macroend

; Removes Default apps from the view in use, and our company's keys once nothing else is there.
!macro RemoveDefaultApps
    !insertmacro DefaultAppsRegistration Remove
    DeleteRegKey /ifempty SHCTX "Software\${COMPANY}\${FOLDER}"
    DeleteRegKey /ifempty SHCTX "Software\${COMPANY}"
!macroend

; Every key goes to the hive of the mode (SHCTX): HKLM for everyone, HKCU for one user. The link
; goes in as %1 without quotes: the program takes its argument text as it is and refuses a
; quoted link.
Function Register
    Call KeepPreviousHandler
    WriteRegStr SHCTX "${SCHEME_KEY}" "" "URL:Quarrion Protocol"
    WriteRegStr SHCTX "${SCHEME_KEY}" "URL Protocol" ""
    WriteRegStr SHCTX "${SCHEME_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    WriteRegStr SHCTX "${SCHEME_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    !insertmacro ClassesRegistration Write
    !insertmacro DefaultAppsView
    !insertmacro DefaultAppsRegistration Write
    SetRegView default
    ; Earlier versions wrote them where 64-bit Windows hides them from the shell.
    ${If} ${RunningX64}
    ${AndIf} $MultiUser.InstallMode == "AllUsers"
        !insertmacro RemoveDefaultApps
    ${EndIf}
    ; Our files only, in KB.
    ${GetSize} "$INSTDIR" "/M=${SHELL_NAME} /S=0B /G=0" $0 $1 $2
    ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0B /G=0" $3 $1 $2
    IntOp $0 $0 + $3
    ${GetSize} "$INSTDIR" "/M=${NOTICES_NAME} /S=0B /G=0" $3 $1 $2
    IntOp $0 $0 + $3
    IntOp $0 $0 + 1023
    IntOp $EstimatedSize $0 / 1024
    !insertmacro AppsEntry Write
    ; Tell Explorer and browsers that an association changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
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

; Everything Register wrote, the scheme given back or removed.
Function un.Unregister
    Call un.ReleaseScheme
    DeleteRegKey SHCTX "${PREVIOUS_HANDLER_KEY}"
    !insertmacro DefaultAppsView
    !insertmacro RemoveDefaultApps
    SetRegView default
    ; Also where earlier versions wrote it on 64-bit Windows; elsewhere it is already gone.
    !insertmacro RemoveDefaultApps
    !insertmacro ClassesRegistration Remove
    !insertmacro AppsEntry Remove
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd
