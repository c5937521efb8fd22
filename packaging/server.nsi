; VorlekServer-setup.exe: installs the operator console.
;
; Silent use: VorlekServer-setup.exe /S [/D=folder]   (/D= last, without quotes)

!define PRODUCT "Vorlek Server"
!define PROGRAM "VorlekServer.exe"
!define KEY "VorlekServer"
!define WINDOW_CLASS "VorlekServerWndClass"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

!include "${SOURCE_DIR}/common.nsh"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro VORLEK_VERSION_KEYS

Section "Vorlek Server"
    SetShellVarContext all

    ; The console keeps the stations' time in memory: it is never ended from here.
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 != 0
        !insertmacro GiveUp "${PRODUCT} is running. Exit it (File, Exit) and run setup again; nothing was changed."
    ${EndIf}

    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
        !insertmacro GiveUp "The folder $INSTDIR could not be created; nothing was installed."
    ${EndIf}
    SetOutPath "$INSTDIR"
    !insertmacro ReplaceProgram
    ${If} $0 != 1
        !insertmacro GiveUp "$INSTDIR\${PROGRAM} is in use and could not be replaced. Exit ${PRODUCT} and run setup again; the installed version was kept."
    ${EndIf}

    ; The console reads its stations from "clients" in its current directory. The operator's
    ; list is never overwritten.
    ${IfNot} ${FileExists} "$INSTDIR\clients"
        File "/oname=$INSTDIR\clients" "${RELEASE_DIR}/clients"
    ${EndIf}

    ; The shortcut's working directory is $OUTDIR, the installation folder.
    CreateShortCut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0 \
        SW_SHOWNORMAL "" "Vorlek operator console"

    !insertmacro WriteUninstallEntry
    Call AddFirewallRule
    DetailPrint "${PRODUCT} ${VERSION} installed in $INSTDIR."
    ${If} ${Silent}
        !insertmacro Report "${PRODUCT} ${VERSION} installed in $INSTDIR."
    ${EndIf}
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 != 0
        !insertmacro UnReport "${PRODUCT} is running. Exit it (File, Exit) and uninstall again; nothing was removed."
        SetErrorLevel ${EXIT_UNCHANGED}
        Abort
    ${EndIf}
    ClearErrors
    Delete "$INSTDIR\${PROGRAM}"
    ${If} ${Errors}
        !insertmacro UnReport "$INSTDIR\${PROGRAM} is in use. Exit ${PRODUCT} and uninstall again; nothing was removed."
        SetErrorLevel ${EXIT_UNCHANGED}
        Abort
    ${EndIf}
    Delete "${SHORTCUT}"
    ; The log of earlier runs goes; what this run cannot do is logged anew.
    Delete "$INSTDIR\${SETUP_LOG}"
    Call un.RemoveFirewallRule
    !insertmacro RemoveUninstallEntry
    ; The operator's "clients" (and the editor's "newclients") stay; so does the folder then.
    RMDir "$INSTDIR"
SectionEnd
