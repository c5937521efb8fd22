; VorlekServer-setup.exe: installs the operator console.
;
; Silent use: VorlekServer-setup.exe /S [/HELLOS=any|listed] [/D=folder]   (/D= last, without
; quotes). Without /HELLOS= an upgrade keeps the switch of the installation before it; a first
; installation lets any station say hello.

!define PRODUCT "Vorlek Server"
!define PROGRAM "VorlekServer.exe"
!define KEY "VorlekServer"
!define WINDOW_CLASS "VorlekServerWndClass"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The console keeps "clients" in its current directory and the editor rewrites it through
; "newclients": it runs in a data folder that the local Users group may change (S-1-5-32-545,
; whatever the system's language calls it), since the program folder is the administrators'.
!define DATA_DIR "$APPDATA\${PRODUCT}"
!define USERS_MAY_CHANGE `"$SYSDIR\icacls.exe" "${DATA_DIR}" /grant *S-1-5-32-545:(OI)(CI)M`

; The switch the installation chose is kept with its uninstall entry, for the next upgrade.
!define HELLOS_VALUE "Hellos"

!include "${SOURCE_DIR}/common.nsh"
!include nsDialogs.nsh

Var Hellos          ; the console's /hellos= value: "any" or "listed"
Var HellosBox

!insertmacro MUI_PAGE_DIRECTORY
; The blank caption keeps the window's title the same on every page, as the standard pages do.
PageEx custom
    PageCallbacks HellosPage HellosPageLeave
    Caption " "
PageExEnd
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro VORLEK_VERSION_KEYS

Function .onInit
    ${GetParameters} $R0
    !insertmacro ReadSwitchOption "/HELLOS=" $Hellos "any" "listed"
    ${If} $Hellos == ""
        ReadRegStr $Hellos HKLM "${UNINSTALL_KEY}" "${HELLOS_VALUE}"
    ${EndIf}
    ${If} $Hellos == ""
        StrCpy $Hellos "any"
    ${EndIf}
FunctionEnd

Function HellosPage
    !insertmacro MUI_HEADER_TEXT "Stations" "Which stations the console adds when they say hello."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateCheckbox} 0 0 100% 12u "Add only the stations in the station list (/hellos=listed)"
    Pop $HellosBox
    ${If} $Hellos == "listed"
        ${NSD_Check} $HellosBox
    ${EndIf}
    ${NSD_CreateLabel} 0 18u 100% 36u "Without it, every computer that says hello to the console appears as a station. With it, a station joins only when it is in the station list (Options, Edit Client List), or answers the search at start-up while the list is empty."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function HellosPageLeave
    ${NSD_GetState} $HellosBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Hellos "listed"
    ${Else}
        StrCpy $Hellos "any"
    ${EndIf}
FunctionEnd

; The station list of an earlier installation, which kept it in the program folder, into the data
; folder: a standard user's saves went into the user's VirtualStore copy of it, where Windows
; redirects a program's writes into Program Files, and the newer of the two is taken. $0 is 1
; when a list was taken.
Function TakeEarlierList
    StrCpy $2 $INSTDIR "" 3
    SetShellVarContext current
    StrCpy $1 "$LOCALAPPDATA\VirtualStore\$2\clients"
    SetShellVarContext all
    StrCpy $7 0     ; 1 when the VirtualStore copy is the one to take
    ClearErrors
    GetFileTime $1 $3 $4
    ${IfNot} ${Errors}
        GetFileTime "$INSTDIR\clients" $5 $6
        ${If} ${Errors}
        ${OrIf} $3 U> $5
            StrCpy $7 1
        ${ElseIf} $3 == $5
        ${AndIf} $4 U> $6
            StrCpy $7 1
        ${EndIf}
    ${EndIf}
    StrCpy $0 0
    ClearErrors
    ${If} $7 == 1
        CopyFiles /SILENT $1 "${DATA_DIR}\clients"
        ${IfNot} ${Errors}
            StrCpy $0 1
            Delete "$INSTDIR\clients"
            DetailPrint "The station list was taken from $1 to ${DATA_DIR}."
        ${EndIf}
    ${Else}
        Rename "$INSTDIR\clients" "${DATA_DIR}\clients"
        ${IfNot} ${Errors}
            StrCpy $0 1
            DetailPrint "The station list moved from $INSTDIR to ${DATA_DIR}."
        ${EndIf}
    ${EndIf}
FunctionEnd

; The data folder, writable for the local Users group, holding the station list: the operator's
; list is never overwritten, the list of an earlier installation moves there (see
; TakeEarlierList), and otherwise the sample is installed.
Function MakeDataFolder
    ClearErrors
    CreateDirectory "${DATA_DIR}"
    ${If} ${Errors}
        !insertmacro Report "The folder ${DATA_DIR} could not be created: ${PRODUCT} is installed, but finds no station list."
        Return
    ${EndIf}
    DetailPrint "icacls ${DATA_DIR}"
    nsExec::ExecToStack `${USERS_MAY_CHANGE}`
    Pop $0
    Pop $1
    ${If} $0 != 0
        !insertmacro Report "The local Users group could not be allowed to change ${DATA_DIR} (icacls ended with $0): only administrators can save the station list there."
    ${EndIf}
    ${IfNot} ${FileExists} "${DATA_DIR}\clients"
        Call TakeEarlierList
        ${If} $0 != 1
            File "/oname=${DATA_DIR}\clients" "${RELEASE_DIR}/clients"
        ${EndIf}
    ${EndIf}
FunctionEnd

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
        !insertmacro GiveUp "${NOT_REPLACED}"
    ${EndIf}

    Call MakeDataFolder

    ; The shortcut's working directory is $OUTDIR, the data folder.
    SetOutPath "${DATA_DIR}"
    CreateShortCut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "/hellos=$Hellos" "$INSTDIR\${PROGRAM}" 0 \
        SW_SHOWNORMAL "" "Vorlek operator console"

    !insertmacro WriteUninstallEntry
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${HELLOS_VALUE}" $Hellos
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
    Delete "$INSTDIR\${PROGRAM}.old*"
    Delete "${SHORTCUT}"
    ; The log of earlier runs goes; what this run cannot do is logged anew.
    Delete "$INSTDIR\${SETUP_LOG}"
    Call un.RemoveFirewallRule
    !insertmacro RemoveUninstallEntry
    ; The operator's "clients" (and the editor's "newclients") stay in the data folder.
    RMDir "$INSTDIR"
SectionEnd
