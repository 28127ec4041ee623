; Under Wine, browsers and chat programs are Linux programs: they ask the Linux desktop, not
; Windows, what opens a quarrion:// link. quarrion_desktop.exe registers the installed program
; there for the user who runs setup (ACTION register, LAST the icon), or removes that
; (unregister, LAST the id that register printed, kept in the Apps entry so that the uninstall
; finds it however the prefix's path is spelt then). Wine is known by ntdll's wine_get_version;
; on Windows nothing of this runs.
; DetailPrints each line of $R9 that is not empty.
!macro DefinePrintLines UN
    Function ${UN}PrintLines
        ${Do}
            StrCpy $R8 0
            ${Do}
                StrCpy $R7 $R9 1 $R8
                ${If} $R7 == "$\n"
                ${OrIf} $R7 == ""
                    ${ExitDo}
                ${EndIf}
                IntOp $R8 $R8 + 1
            ${Loop}
            StrCpy $R7 $R9 $R8
            ${IfThen} $R7 != "" ${|} DetailPrint $R7 ${|}
            IntOp $R8 $R8 + 1
            StrCpy $R9 $R9 "" $R8
            ${IfThen} $R9 == "" ${|} ${ExitDo} ${|}
        ${Loop}
    FunctionEnd
!macroend
!insertmacro DefinePrintLines ""
!insertmacro DefinePrintLines "un."

; The last line of a registrar that finished, after a line end (one is put before its output).
!define DESKTOP_FINISHED "$\nquarrion_desktop: finished$\n"

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
        !insertmacro RunTool quarrion_desktop.exe '${ACTION} $MultiUser.InstallMode "$INSTDIR" "${LAST}"'
        ; Under Wine a registrar that a signal ended reports 0: only its last line says that it
        ; finished.
        ${WordReplace} "$\n$1" "$\r" "" "+" $R9
        StrLen $R6 "${DESKTOP_FINISHED}"
        StrCpy $R5 $R9 "" -$R6
        ${If} $0 == 0
        ${AndIf} $R5 S!= "${DESKTOP_FINISHED}"
            StrCpy $0 "unfinished"
            StrCpy $1 "$1$\r$\nquarrion_desktop.exe was ended before it finished"
        ${EndIf}
        ${If} $0 != 0
            DetailPrint "${TEXT} $1"
            MessageBox MB_OK|MB_ICONEXCLAMATION "${TEXT}$\r$\n$\r$\n$1" /SD IDOK
            SetErrorLevel ${EXIT_NO_LINUX_HANDLER}
            ; The uninstall keeps everything, the Windows side too, to be run again once the
            ; player has put right what the message names.
            !if "${ACTION}" == unregister
                Abort
            !endif
        ${Else}
            ; register says the id first, on a line of its own; then, as unregister does, a line
            ; for each thing the player should know.
            StrCpy $R9 $R9 -$R6 1
            !if "${ACTION}" == register
                ClearErrors
                ${WordFind} $R9 "$\n" "E+1{" $2
                ${If} ${Errors}
                    StrCpy $2 $R9
                    StrCpy $R9 ""
                ${Else}
                    ${WordFind} $R9 "$\n" "+1}" $R9
                ${EndIf}
                WriteRegStr SHCTX "${UNINSTALL_KEY}" "LinuxDesktopEntry" $2
            !endif
            !if "${ACTION}" == register
                Call PrintLines
            !else
                Call un.PrintLines
            !endif
        ${EndIf}
    ${EndIf}
!macroend

