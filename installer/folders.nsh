; The install folder: which one /D= gave, whether setup may use it, the folders it makes, and our
; files in it, written and removed with retries while the program is in use.

; Exit codes of a failed install, Windows' own error numbers (`net helpmsg <code>` explains each).
; A failure comes before anything is registered, so an earlier install's registration and Apps
; entry stay as they were.
!define EXIT_IN_USE 32 ; ERROR_SHARING_VIOLATION: quarrion_shell.exe stayed in use
!define EXIT_CANNOT_WRITE 82 ; ERROR_CANNOT_MAKE: the folder or a file in it cannot be written
!define EXIT_NOT_OURS 145 ; ERROR_DIR_NOT_EMPTY: the folder holds files of another program
!define EXIT_BAD_FOLDER 267 ; ERROR_DIRECTORY: /D= names nothing that can be an install folder
!define EXIT_OTHER_MODE 183 ; ERROR_ALREADY_EXISTS: the folder holds the other mode's copy
; The uninstaller's folder holds no record of an install of ours: it removes nothing.
!define EXIT_NOT_A_COPY 1605 ; ERROR_UNKNOWN_PRODUCT
; A record of what the install changed that setup cannot read: it changes nothing.
!define EXIT_BAD_RECORD 1610 ; ERROR_BAD_CONFIGURATION
; Under Wine, installed (or removed) for Windows programs, but not for the Linux desktop's.
!define EXIT_NO_LINUX_HANDLER 1155 ; ERROR_NO_ASSOCIATION

; Runs quarrion_record.exe with ARGUMENTS: $0 its exit status, $1 what it said. Under Wine a run
; that a signal ended reports 0: only its last line says that it finished.
!define RECORD_FINISHED "quarrion_record: finished"
!macro RecordKeeper ARGUMENTS
    !insertmacro RunTool quarrion_record.exe '${ARGUMENTS}'
    StrLen $R6 "${RECORD_FINISHED}"
    StrCpy $R5 $1 "" -$R6
    ${If} $R5 S== "${RECORD_FINISHED}"
        StrCpy $1 $1 -$R6
        ${Do}
            StrCpy $R5 $1 1 -1
            ${If} $R5 != "$\r"
            ${AndIf} $R5 != "$\n"
                ${ExitDo}
            ${EndIf}
            StrCpy $1 $1 -1
        ${Loop}
    ${ElseIf} $0 == 0
        StrCpy $0 ${EXIT_CANNOT_WRITE}
        StrCpy $1 "quarrion_record.exe was ended before it finished: $1"
    ${EndIf}
!macroend

; Says why setup stops, in a box unless silent, and stops it with CODE.
!macro FailInstall CODE TEXT
    DetailPrint "${TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Abort
!macroend

; NSIS drops a /D= it cannot use (a relative path, "C:/x", a file, an empty one, one after
; anything but a blank) and goes on with the default folder; a quoted one it does not see at all.
; Either would install where nobody asked. /D= takes the rest of the line, so a switch after it
; would become part of the folder.
Function CheckRequestedFolder
    System::Call 'kernel32::GetCommandLineW() t .r0'
    StrLen $1 $0
    StrCpy $2 1
    ${Do}
        ${IfThen} $2 >= $1 ${|} Return ${|}
        StrCpy $3 $0 3 $2
        ${IfThen} $3 == "/D=" ${|} ${ExitDo} ${|}
        IntOp $2 $2 + 1
    ${Loop}
    IntOp $3 $2 - 1
    StrCpy $3 $0 1 $3 ; what comes before it: NSIS reads it after one blank only
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
    StrCpy $GivenFolder $0
    ${If} $0 != $R0
    ${OrIf} $0 == ""
    ${OrIf} $3 != " "
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

; Leaves in $ForeignFile the name of the first file in $INSTDIR that is not this program's, or
; "": ours are the files quarrion_shell.exe, THIRD-PARTY-NOTICES.txt and quarrion_record.dat
; (earlier builds: uninstall.dat), the temporary file the record is being written through while
; our company's key names it, and an
; uninstall.exe whose version block carries our company and our id (earlier builds: the name
; they were known by), never the display name, which may change.
; A game's folder, say, holds its own uninstall.exe, which ours would overwrite and then delete.
Function FindForeignFile
    StrCpy $0 ""
    ClearErrors
    FindFirst $1 $2 "$INSTDIR\*"
    ${DoWhile} $2 != ""
        ${If} $2 != "."
        ${AndIf} $2 != ".."
            StrCpy $0 $2
            ; The record's temporary file, while the hive names it: a run stopped writing it.
            ReadRegStr $3 SHCTX "Software\${COMPANY}\${FOLDER}" "FileBeingWritten"
            ${If} $2 == "${SHELL_NAME}"
            ${OrIf} $2 == "${NOTICES_NAME}"
            ${OrIf} $2 == "${RECORD_NAME}"
            ${OrIf} $2 == "${EARLIER_RECORD_NAME}"
            ${OrIf} "$3|$2" == "$INSTDIR\${RECORD_NAME}.new|${RECORD_NAME}.new"
                ${IfNot} ${FileExists} "$INSTDIR\$2\*.*"
                    StrCpy $0 ""
                ${EndIf}
            ${ElseIf} $2 == "uninstall.exe"
                Push "$INSTDIR\uninstall.exe"
                Push "CompanyName"
                Call VersionText
                Pop $3
                Push "$INSTDIR\uninstall.exe"
                Push "InternalName"
                Call VersionText
                Pop $4
                Push "$INSTDIR\uninstall.exe"
                Push "ProductName"
                Call VersionText
                Pop $5
                ${If} "$3|$4" == "${COMPANY}|${ID}"
                ${OrIf} "$3|$5" == "${COMPANY}|${EARLIER_NAME}"
                    StrCpy $0 ""
                ${EndIf}
            ${EndIf}
            ${IfThen} $0 != "" ${|} ${ExitDo} ${|}
        ${EndIf}
        FindNext $1 $2
    ${Loop}
    FindClose $1
    StrCpy $ForeignFile $0
FunctionEnd

; quarrion_record.exe, which keeps the record, from the temp folder; setup and the uninstaller
; each carry it.
!macro DefineExtractRecordKeeper UN
    Function ${UN}ExtractRecordKeeper
        InitPluginsDir
        SetDateSave off ; a date stored would vary from build to build
        File "/oname=$PLUGINSDIR\quarrion_record.exe" "${RECORD_EXE}"
        SetDateSave on
    FunctionEnd
!macroend
!insertmacro DefineExtractRecordKeeper ""
!insertmacro DefineExtractRecordKeeper "un."

; Leaves in $0 0 when setup may write our files in $INSTDIR as they are; 183 when the folder is
; the other mode's copy, whatever spelling reaches it (a subst drive, a link, 8.3 names); 145,
; with the name in $ForeignFile, when the folder or one of our files in it is a link elsewhere,
; or a registry key setup writes in is a link; 1610, with the reason in $ForeignFile, when a
; record of what the install changed cannot be read.
Function CheckFolderIdentity
    Call ExtractRecordKeeper
    Call WritePlan
    !insertmacro RecordKeeper \
        'may-install $MultiUser.InstallMode "$INSTDIR" "$PLUGINSDIR\plan.txt" ${OUR_FILES}'
    StrCpy $ForeignFile $1
FunctionEnd

; Stops setup for what may-install, prepare-folder or register answered in $0 and $1.
Function FailForRecordKeeper
    StrCpy $ForeignFile $1
    StrCpy $FileName "${RECORD_NAME}"
    ${If} $0 == ${EXIT_NOT_OURS}
        StrCpy $2 $ForeignFile 9
        ${If} $2 == "Software\"
            !insertmacro FailInstall ${EXIT_NOT_OURS} "$(KEY_LINKED)"
        ${EndIf}
        !insertmacro FailInstall ${EXIT_NOT_OURS} "$(NOT_OURS)"
    ${ElseIf} $0 == ${EXIT_OTHER_MODE}
        !insertmacro FailInstall ${EXIT_OTHER_MODE} "$(OTHER_MODE_HERE)"
    ${ElseIf} $0 == ${EXIT_BAD_RECORD}
        !insertmacro FailInstall ${EXIT_BAD_RECORD} "$(BAD_RECORD)"
    ${EndIf}
    DetailPrint $1
    !insertmacro FailInstall ${EXIT_CANNOT_WRITE} "$(CANNOT_WRITE)"
FunctionEnd

; The directory page keeps a player on it until the folder is one setup may use.
Function CheckChosenFolder
    Call NormalizeInstallFolder
    Call FindForeignFile
    ${If} $ForeignFile == ""
        Call CheckFolderIdentity
        ${IfThen} $0 != ${EXIT_NOT_OURS} ${|} StrCpy $ForeignFile "" ${|}
    ${EndIf}
    ${If} $ForeignFile != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(NOT_OURS)" /SD IDOK
        Abort
    ${EndIf}
    ${If} $0 == ${EXIT_OTHER_MODE}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(OTHER_MODE_HERE)" /SD IDOK
        Abort
    ${ElseIf} $0 == ${EXIT_BAD_RECORD}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(BAD_RECORD)" /SD IDOK
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

; Runs quarrion_record.exe on our files (install-files or remove-files) until none is in use,
; and stops setup or the uninstall with FAIL_TEXT when one stays so.
; Otherwise FAIL is called with the status in $0 and the reason in $1.
!macro OurFiles ARGUMENTS FAIL_TEXT FAIL
    StrCpy $Attempts 0
    ${Do}
        !insertmacro RecordKeeper '${ARGUMENTS}'
        ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
        ${IfThen} $0 != ${EXIT_IN_USE} ${|} Call ${FAIL} ${|}
        StrCpy $FileName $1
        !insertmacro WaitWhileInUse "${FAIL_TEXT}"
    ${Loop}
!macroend

; Before anything goes: each file of ours that is to go can be written, that is, is not in use,
; with the same retries, so that a file in use ends the uninstall with 32 having removed nothing.
Function un.WaitUntilOurFilesCanGo
    StrCpy $R1 $OurFiles
    ${Do}
        ${WordFind} $R1 "|" "+1" $R2
        ${IfThen} $R2 == $R1 ${|} ${ExitDo} ${|}
        ${If} $R2 != "uninstall.exe"
            StrCpy $FileName $R2
            StrCpy $Attempts 0
            ${Do}
                ClearErrors
                FileOpen $R4 "$INSTDIR\$R2" a
                ${IfNot} ${Errors}
                    FileClose $R4
                    ${ExitDo}
                ${EndIf}
                !insertmacro WaitWhileInUse "$(UN_IN_USE_FAIL)"
            ${Loop}
        ${EndIf}
        StrLen $R3 $R2
        IntOp $R3 $R3 + 1
        StrCpy $R1 $R1 "" $R3
    ${Loop}
FunctionEnd

; Every file of ours still as installed, the uninstaller itself last (RemoveRecordAndFolders). A
; file changed since, or a link at its name, is not ours to remove and stays.
Function un.RemoveOurFiles
    !insertmacro OurFiles 'remove-files "$INSTDIR" "${SHELL_NAME}" "${NOTICES_NAME}"' \
        "$(UN_IN_USE_FAIL)" un.FailToRemove
FunctionEnd

Function un.FailToRemove
    DetailPrint $1
    SetErrorLevel ${EXIT_CANNOT_WRITE}
    Abort
FunctionEnd

; Before anything is registered: the folder checked (as on the folder page), then made, and
; its record written before our files go in: the folders it makes, which its uninstall removes
; and no other, and the files' new bytes beside those they replace.
Function PrepareInstallFolder
    Call NormalizeInstallFolder
    Call FindForeignFile
    ${If} $ForeignFile != ""
        !insertmacro FailInstall ${EXIT_NOT_OURS} "$(NOT_OURS)"
    ${EndIf}
    Call CheckFolderIdentity
    StrCpy $1 $ForeignFile
    ${IfThen} $0 != 0 ${|} Call FailForRecordKeeper ${|}
    ; Our files wait in the temp folder until the record knows their bytes.
    SetOutPath "$PLUGINSDIR\new"
    File "/oname=$PLUGINSDIR\new\${SHELL_NAME}" "${SHELL_EXE}"
    WriteUninstaller "$PLUGINSDIR\new\uninstall.exe"
    File "/oname=$PLUGINSDIR\new\${NOTICES_NAME}" "${NOTICES}"
    ; Setup's working folder: one left inside the temp folder outlives setup (Windows removes no
    ; process's working folder).
    SetOutPath "$TEMP"
FunctionEnd

; The folder made and recorded, then our files, before anything is registered; the uninstaller
; last, so that the one in the folder always knows the files beside it.
Function WriteProgramFiles
    !insertmacro OurFiles \
        'install-files $MultiUser.InstallMode "$INSTDIR" "$PLUGINSDIR\new" ${OUR_FILES}' \
        "$(IN_USE_FAIL)" FailForRecordKeeper
FunctionEnd

; Last: the uninstaller, when it is as installed and not the one running (run in place, _?=),
; then the record and, once empty, the folders the install made.
Function un.RemoveRecordAndFolders
    ; A folder that is the uninstaller's own working folder cannot be removed.
    SetOutPath "$TEMP"
    !insertmacro RecordKeeper 'remove-record "$INSTDIR"'
FunctionEnd
