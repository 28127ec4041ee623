; The registry: the scheme, taken over from another program and given back to it; Default apps,
; the ProgID and the friendly name; the Apps entry. Each is a list that setup and its uninstaller
; share. Keys of our own (the ProgID, our company's, the Apps entry) are written as they are and
; removed whole. A value in a place other programs share (the scheme, Applications, the list of
; registered applications) goes through quarrion_record.exe, which records what it held before
; and gives that back on uninstall while the value is still ours.

; Windows runs the scheme's default verb, through its DelegateExecute object when one is named:
; for links to run our command, the default is "open" and no such object is named.
!macro SchemeRegistration DO
    !insertmacro ${DO}SharedText "${SCHEME_KEY}" "" "URL:Quarrion Protocol"
    !insertmacro ${DO}SharedText "${SCHEME_KEY}" "URL Protocol" ""
    !insertmacro ${DO}SharedText "${SCHEME_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}SharedText "${SCHEME_KEY}\shell" "" "open"
    !insertmacro ${DO}SharedText "${SCHEME_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    !insertmacro ${DO}SharedRemoval "${SCHEME_KEY}\shell\open\command" "DelegateExecute"
!macroend

; Settings, Default apps is drawn by the 64-bit shell, which reads HKLM\Software in the native
; view; for a 32-bit installer that is WOW6432Node on 64-bit Windows. HKCU\Software and the
; classes are the same in both views.
!macro DefaultAppsView
    ${If} ${RunningX64}
        SetRegView 64
        StrCpy $PlanView "64"
    ${EndIf}
!macroend
!macro DefaultView
    SetRegView default
    StrCpy $PlanView ""
!macroend

; Default apps lists link handlers registered here, and lets the user choose ours.
!macro ClassesRegistration DO
    !insertmacro ${DO}Text "${PROGID_KEY}" "" "Quarrion link"
    !insertmacro ${DO}Text "${PROGID_KEY}\DefaultIcon" "" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${PROGID_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    ; The name browsers show when they ask whether to open the link.
    !insertmacro ${DO}SharedText "${APPLICATION_KEY}" "FriendlyAppName" "${PRODUCT}"
!macroend

; Settings, Default apps, in the view the shell reads (DefaultAppsView): our capabilities, and
; our value in the list of registered applications, which is not ours.
!macro DefaultAppsRegistration DO
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationName" "${PRODUCT}"
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationDescription" \
        "Opens quarrion:// links: starts Quarrion and joins the server the link names."
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}" "ApplicationIcon" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${CAPABILITIES_KEY}\URLAssociations" "quarrion" "${PROGID}"
    ; Named by the id, which never changes, so an upgrade finds it whatever the display name.
    !insertmacro ${DO}SharedText "${REGISTERED_APPS_KEY}" "${ID}" "${CAPABILITIES_KEY}"
!macroend

; The Apps entry (Settings, Apps; Programs and Features). EstimatedSize comes in $EstimatedSize.
!macro AppsEntry DO
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "Language" $LANGUAGE
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${SHELL_NAME}",0'
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "UninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    !insertmacro ${DO}Text "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "NoModify" 1
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "NoRepair" 1
    !insertmacro ${DO}Number "${UNINSTALL_KEY}" "EstimatedSize" $EstimatedSize
!macroend

; Plan: every key setup writes in, one line each for quarrion_record.exe, which checks each for
; a registry link and gives back or removes what the uninstall takes away: the shared values, and
; each key of our own (a key named again is the same key). Write: our own keys; the shared values
; are quarrion_record.exe's to write. Values may hold double quotes, so they go in backquotes.
!macro PlanText KEY NAME VALUE
    FileWriteUTF16LE $PlanFile `own$\t$PlanView$\t${KEY}$\r$\n`
!macroend
!macro PlanNumber KEY NAME VALUE
    !insertmacro PlanText "${KEY}" "${NAME}" "${VALUE}"
!macroend
!macro PlanSharedText KEY NAME VALUE
    FileWriteUTF16LE $PlanFile `set$\t$PlanView$\t${KEY}$\t${NAME}$\t${VALUE}$\r$\n`
!macroend
!macro PlanSharedNumber KEY NAME VALUE
    FileWriteUTF16LE $PlanFile `number$\t$PlanView$\t${KEY}$\t${NAME}$\t${VALUE}$\r$\n`
!macroend
!macro PlanSharedRemoval KEY NAME
    FileWriteUTF16LE $PlanFile `remove$\t$PlanView$\t${KEY}$\t${NAME}$\r$\n`
!macroend
; Keys of ours that earlier builds made, which setup removes once the record has what they held.
!macro PlanRetired KEY
    FileWriteUTF16LE $PlanFile `retired$\t$PlanView$\t${KEY}$\r$\n`
!macroend
!macro WriteText KEY NAME VALUE
    WriteRegStr SHCTX "${KEY}" "${NAME}" `${VALUE}`
!macroend
!macro WriteNumber KEY NAME VALUE
    WriteRegDWORD SHCTX "${KEY}" "${NAME}" ${VALUE}
!macroend
!macro WriteSharedText KEY NAME VALUE
!macroend
!macro WriteSharedNumber KEY NAME VALUE
!macroend
!macro WriteSharedRemoval KEY NAME
!macroend

!macro RemoveEarlierRegisteredApplication
    ReadRegStr $0 SHCTX "${REGISTERED_APPS_KEY}" "${EARLIER_NAME}"
    ${If} $0 == "${CAPABILITIES_KEY}"
    ${AndIf} "${EARLIER_NAME}" != "${ID}"
        DeleteRegValue SHCTX "${REGISTERED_APPS_KEY}" "${EARLIER_NAME}"
    ${EndIf}
!macroend

; The plan, $PLUGINSDIR\plan.txt: setup's of what it sets, the uninstaller's of what a record may
; name (a record naming any other value is not ours to act on).
!macro DefineWritePlan UN
    Function ${UN}WritePlan
        ClearErrors
        FileOpen $PlanFile "$PLUGINSDIR\plan.txt" w
        !insertmacro DefaultView
        !insertmacro SchemeRegistration Plan
        !insertmacro ClassesRegistration Plan
        !insertmacro DefaultAppsView
        !insertmacro DefaultAppsRegistration Plan
        !insertmacro DefaultView
        !insertmacro AppsEntry Plan
        ; Where earlier versions kept the handler they took over, and still look for it: the
        ; record keeper keeps it there too.
        !insertmacro PlanText "Software\${COMPANY}\${FOLDER}\PreviousHandler" "" ""
        ; Some wrote Default apps where 64-bit Windows hides it from the shell.
        ${If} ${RunningX64}
        ${AndIf} $MultiUser.InstallMode == "AllUsers"
            !insertmacro PlanRetired "${CAPABILITIES_KEY}"
        ${EndIf}
        FileClose $PlanFile
        ${If} ${Errors}
            StrCpy $FileName "${RECORD_NAME}"
            !insertmacro FailInstall ${EXIT_CANNOT_WRITE} "$(CANNOT_WRITE)"
        ${EndIf}
    FunctionEnd
!macroend
!insertmacro DefineWritePlan ""
!insertmacro DefineWritePlan "un."

; Every key goes to the hive of the mode (SHCTX): HKLM for everyone, HKCU for one user. The link
; goes in as %1 without quotes: the program takes its argument text as it is and refuses a
; quoted link. The shared values come first, so a failure leaves nothing of ours registered.
Function Register
    ; The friendly name a build before the record wrote is ours, not another program's to give
    ; back; a copy with a record has what was there before it in that record.
    ReadRegStr $0 SHCTX "${APPLICATION_KEY}" "FriendlyAppName"
    ${If} $0 == "${EARLIER_NAME}"
    ${AndIfNot} ${FileExists} "$INSTDIR\${RECORD_NAME}"
    ${AndIfNot} ${FileExists} "$INSTDIR\${EARLIER_RECORD_NAME}"
        DeleteRegValue SHCTX "${APPLICATION_KEY}" "FriendlyAppName"
    ${EndIf}
    Call WritePlan
    !insertmacro RecordKeeper 'register $MultiUser.InstallMode "$INSTDIR" "$PLUGINSDIR\plan.txt"'
    ${IfThen} $0 != 0 ${|} Call FailForRecordKeeper ${|}
    !insertmacro ClassesRegistration Write
    !insertmacro DefaultAppsView
    !insertmacro DefaultAppsRegistration Write
    !insertmacro DefaultView
    ; Earlier builds named their value in the list after their display name, and some wrote
    ; Default apps where 64-bit Windows hides it from the shell: theirs goes, while it is still
    ; what they wrote.
    !insertmacro DefaultAppsView
    !insertmacro RemoveEarlierRegisteredApplication
    !insertmacro DefaultView
    !insertmacro RemoveEarlierRegisteredApplication
    ; Our files only, in KB.
    ${GetSize} "$INSTDIR" "/M=${SHELL_NAME} /S=0B /G=0" $0 $1 $2
    ${GetSize} "$INSTDIR" "/M=uninstall.exe /S=0B /G=0" $3 $1 $2
    IntOp $0 $0 + $3
    ${GetSize} "$INSTDIR" "/M=${NOTICES_NAME} /S=0B /G=0" $3 $1 $2
    IntOp $0 $0 + $3
    IntOp $0 $0 + 1023
    IntOp $EstimatedSize $0 / 1024
    !insertmacro AppsEntry Write
    ; All is in place: the record keeps only the files' new bytes.
    !insertmacro RecordKeeper 'conclude-install "$INSTDIR"'
    ${IfThen} $0 != 0 ${|} Call FailForRecordKeeper ${|}
    ; The copy this one moved from, which register noted, goes now; one in use stays, left
    ; behind with its own uninstaller, and the next install tries again.
    !insertmacro RecordKeeper 'take-away $MultiUser.InstallMode "$INSTDIR" "${SHELL_NAME}" "${NOTICES_NAME}"'
    ${IfThen} $0 != 0 ${|} DetailPrint $1 ${|}
    ; Tell Explorer and browsers that an association changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd

; The shared values given back from the record, then our own keys removed, as the plan names
; them. When a value cannot be given back, the Apps entry and the record stay, so the uninstall
; can be run again.
Function un.Unregister
    !insertmacro RecordKeeper 'unregister "$INSTDIR" "$PLUGINSDIR\plan.txt"'
    ${If} $0 != 0
        DetailPrint $1
        SetErrorLevel ${EXIT_CANNOT_WRITE}
        Abort
    ${EndIf}
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd
