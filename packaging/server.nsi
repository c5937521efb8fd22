; VorlekServer-setup.exe: installs the operator console.
;
; Silent use: VorlekServer-setup.exe /S [/HELLOS=any|listed] [/NOTICES=each|summary]
; [/JOURNAL=folder] [/SIGN=0|1] [/D=folder]   (/D= last, without quotes). Without /HELLOS=,
; /NOTICES=, /JOURNAL= or /SIGN= an upgrade keeps the switch of the installation before it; a
; first installation lets any station say hello, shows every notice in a box of its own, keeps
; no journal and does not sign its orders.

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
; The key tool, installed beside the console. Under /orders=signed the console signs with the key
; "room.key" of its data folder; the key's public line is saved beside it for the stations'
; "roomkeys".
!define KEY_TOOL "VorlekKey.exe"
!define ROOM_KEY "${DATA_DIR}\room.key"
!define USERS_MAY_READ_KEY `"$SYSDIR\icacls.exe" "${ROOM_KEY}" /grant *S-1-5-32-545:R`
!define PUBLIC_LINE_FILE "${DATA_DIR}\roomkey.pub"

; The switch the installation chose is kept with its uninstall entry, for the next upgrade.
!define HELLOS_VALUE "Hellos"
!define NOTICES_VALUE "Notices"
!define JOURNAL_VALUE "Journal"
!define SIGN_VALUE "Sign"

!include "${SOURCE_DIR}/common.nsh"
!include nsDialogs.nsh

Var Hellos          ; the console's /hellos= value: "any" or "listed"
Var HellosBox
Var Notices         ; the console's /notices= value: "each" or "summary"
Var NoticesBox
Var Journal         ; the console's /journal= folder, empty for none
Var JournalBox
Var Sign            ; 1 when the console signs its orders (/orders=signed), else 0
Var SignBox

!insertmacro MUI_PAGE_DIRECTORY
; The blank caption keeps the window's title the same on every page, as the standard pages do.
PageEx custom
    PageCallbacks HellosPage HellosPageLeave
    Caption " "
PageExEnd
PageEx custom
    PageCallbacks SignPage SignPageLeave
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
    !insertmacro ReadSwitchOption "/NOTICES=" $Notices "each" "summary"
    ${If} $Notices == ""
        ReadRegStr $Notices HKLM "${UNINSTALL_KEY}" "${NOTICES_VALUE}"
    ${EndIf}
    ${If} $Notices == ""
        StrCpy $Notices "each"
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/JOURNAL=" $Journal
    ${If} ${Errors}
        ReadRegStr $Journal HKLM "${UNINSTALL_KEY}" "${JOURNAL_VALUE}"
    ${EndIf}
    !insertmacro ReadSwitchOption "/SIGN=" $Sign "0" "1"
    ${If} $Sign == ""
        ReadRegStr $Sign HKLM "${UNINSTALL_KEY}" "${SIGN_VALUE}"
    ${EndIf}
    ${If} $Sign != "1"
        StrCpy $Sign "0"
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
    ${NSD_CreateLabel} 0 14u 100% 28u "Without it, every computer that says hello to the console appears as a station. With it, a station joins only when it is in the station list (Options, Edit Client List), or answers the search at start-up while the list is empty."
    Pop $0
    ${NSD_CreateCheckbox} 0 46u 100% 12u "One notice for many stations that go OFF, ON or BLOCKED together (/notices=summary)"
    Pop $NoticesBox
    ${If} $Notices == "summary"
        ${NSD_Check} $NoticesBox
    ${EndIf}
    ${NSD_CreateLabel} 0 64u 100% 12u "Journal of the time given, a CSV file a day in this folder (/journal=; empty for none):"
    Pop $0
    ${NSD_CreateText} 0 78u 100% 12u $Journal
    Pop $JournalBox
    nsDialogs::Show
FunctionEnd

Function HellosPageLeave
    ${NSD_GetState} $HellosBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Hellos "listed"
    ${Else}
        StrCpy $Hellos "any"
    ${EndIf}
    ${NSD_GetState} $NoticesBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Notices "summary"
    ${Else}
        StrCpy $Notices "each"
    ${EndIf}
    ${NSD_GetText} $JournalBox $Journal
FunctionEnd

Function SignPage
    !insertmacro MUI_HEADER_TEXT "Sign orders" "Orders that only this console can give."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateCheckbox} 0 0 100% 12u "Sign the orders to the stations (/orders=signed)"
    Pop $SignBox
    ${NSD_SetFocus} $SignBox
    ${If} $Sign == "1"
        ${NSD_Check} $SignBox
    ${EndIf}
    ${NSD_CreateLabel} 0 14u 100% 60u "Setup makes the console's key $\"room.key$\" in ${DATA_DIR} (a key already there is kept) and saves its public line beside it as $\"roomkey.pub$\". Put that line into the file $\"roomkeys$\" of every station whose agent obeys only signed orders (/orders=signed): no other computer on the network can then give time. Signed orders need Windows Vista or later."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function SignPageLeave
    ${NSD_GetState} $SignBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Sign "1"
    ${Else}
        StrCpy $Sign "0"
    ${EndIf}
FunctionEnd

; The console's key, before anything is installed: an existing "room.key" is kept and read, a
; missing one made, by the key tool of this setup. Its public line goes to "roomkey.pub" when the
; key is new or that file is missing, and is shown. A key that can be neither made nor read ends
; the run: a console under /orders=signed would refuse to start without it.
Function MakeRoomKey
    InitPluginsDir
    File "/oname=$PLUGINSDIR\${KEY_TOOL}" "${RELEASE_DIR}/${KEY_TOOL}"
    CreateDirectory "${DATA_DIR}"
    ${If} ${FileExists} "${ROOM_KEY}"
        StrCpy $2 "public"
        StrCpy $3 "read"
    ${Else}
        StrCpy $2 "new"
        StrCpy $3 "made"
    ${EndIf}
    DetailPrint "${KEY_TOOL} $2 ${ROOM_KEY}"
    nsExec::ExecToStack `"$PLUGINSDIR\${KEY_TOOL}" $2 "${ROOM_KEY}"`
    Pop $0
    Call ShortOutput
    Pop $1
    ; The line end, made a blank, goes.
    ${Do}
        StrCpy $4 $1 1 -1
        ${If} $4 != " "
            ${Break}
        ${EndIf}
        StrCpy $1 $1 -1
    ${Loop}
    ${If} $0 != 0
        !insertmacro GiveUp "The console's key ${ROOM_KEY} could not be $3 (${KEY_TOOL} ended with $0): $1$\r$\nNothing was changed."
    ${EndIf}
    ${If} $2 == "new"
        ; The key tool lets only SYSTEM, Administrators and its own account read the key: the
        ; consoles of standard operator accounts read it as the local Users group.
        nsExec::ExecToStack `${USERS_MAY_READ_KEY}`
        Pop $4
        Pop $5
        ${If} $4 != 0
            !insertmacro Report "The local Users group could not be allowed to read ${ROOM_KEY} (icacls ended with $4): only administrators can start the console with /orders=signed."
        ${EndIf}
    ${EndIf}
    ${If} $2 == "new"
    ${OrIfNot} ${FileExists} "${PUBLIC_LINE_FILE}"
        ClearErrors
        FileOpen $4 "${PUBLIC_LINE_FILE}" w
        FileWrite $4 "$1$\r$\n"
        FileClose $4
        ${If} ${Errors}
            !insertmacro Report "${PUBLIC_LINE_FILE} could not be written: $\"${KEY_TOOL} public room.key$\" in ${DATA_DIR} shows the public line."
        ${EndIf}
    ${EndIf}
    !insertmacro Report "The console signs its orders with ${ROOM_KEY}. Put its public line, kept in ${PUBLIC_LINE_FILE}, into the $\"roomkeys$\" of every station:$\r$\n$1"
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
    ${If} $Sign == "1"
        Call MakeRoomKey
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

    ClearErrors
    File "/oname=$INSTDIR\${KEY_TOOL}" "${RELEASE_DIR}/${KEY_TOOL}"
    ${If} ${Errors}
        !insertmacro Report "$INSTDIR\${KEY_TOOL} could not be replaced: another program holds it open."
    ${EndIf}

    Call MakeDataFolder

    ; The shortcut's working directory is $OUTDIR, the data folder.
    SetOutPath "${DATA_DIR}"
    StrCpy $1 "/hellos=$Hellos /notices=$Notices"
    ${If} $Sign == "1"
        StrCpy $1 "$1 /orders=signed"
    ${EndIf}
    ${If} $Journal != ""
        StrCpy $1 `$1 "/journal=$Journal"`
    ${EndIf}
    CreateShortCut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" $1 "$INSTDIR\${PROGRAM}" 0 \
        SW_SHOWNORMAL "" "Vorlek operator console"

    !insertmacro WriteUninstallEntry
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${HELLOS_VALUE}" $Hellos
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${NOTICES_VALUE}" $Notices
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${JOURNAL_VALUE}" $Journal
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${SIGN_VALUE}" $Sign
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
    Delete "$INSTDIR\${KEY_TOOL}"
    Delete "${SHORTCUT}"
    ; The log of earlier runs goes; what this run cannot do is logged anew.
    Delete "$INSTDIR\${SETUP_LOG}"
    Call un.RemoveFirewallRule
    !insertmacro RemoveUninstallEntry
    ; The operator's "clients" (and the editor's "newclients") stay in the data folder, and so
    ; do the console's key, its public line and its last sequence number.
    RMDir "$INSTDIR"
SectionEnd
