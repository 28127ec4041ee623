; Our programs that setup and the uninstaller run from $PLUGINSDIR: quarrion_record.exe and, under
; Wine, quarrion_desktop.exe.

; Runs PROGRAM with ARGUMENTS: $0 its exit status ("error" when it could not be started), $1 what
; it said. It runs without a console (no console host for each step, no window), so it says it in
; a file, as UTF-16, which keeps any path exact. Clobbers $R4 to $R6.
!macro RunTool PROGRAM ARGUMENTS
    Delete "$PLUGINSDIR\said.txt"
    ClearErrors
    ExecWait '"$PLUGINSDIR\${PROGRAM}" "/report=$PLUGINSDIR\said.txt" ${ARGUMENTS}' $0
    ${IfThen} ${Errors} ${|} StrCpy $0 error ${|}
    StrCpy $1 ""
    StrCpy $R6 ""
    ClearErrors
    FileOpen $R4 "$PLUGINSDIR\said.txt" r
    ${IfNot} ${Errors}
        ${Do}
            FileReadUTF16LE $R4 $R5
            ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
            StrCpy $1 "$1$R6"
            StrCpy $R6 $R5
        ${Loop}
        FileClose $R4
    ${EndIf}
    ; A long text loses its middle, never its last line, which says whether the run finished.
    StrLen $R5 $R6
    IntOp $R5 ${NSIS_MAX_STRLEN} - $R5
    IntOp $R5 $R5 - 1
    StrCpy $1 $1 $R5
    StrCpy $1 "$1$R6"
!macroend
