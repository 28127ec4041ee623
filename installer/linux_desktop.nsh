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

