; VorlekClient-setup.exe: installs the workstation agent.
;
; Silent use: VorlekClient-setup.exe /S /SERVERS=address[,address...] [/HOLD=device|hooks]
; [/ORDERS=any|servers|signed] [/ROOMKEYS=line[|line...]] [/START=available|blocked]
; [/COUNTDOWN=off|on] [/D=folder] (/D= last, without quotes). Without /SERVERS= an existing
; "servers" stays as it is, and without /ROOMKEYS= an existing "roomkeys"; without /HOLD=,
; /ORDERS=, /START= and /COUNTDOWN= an upgrade keeps the switches of the installation before it,
; and a first installation chooses them (see ChooseSwitches).

!define PRODUCT "Vorlek Client"
!define PROGRAM "VorlekClient.exe"
!define KEY "VorlekClient"
!define PICTURE "BLOCKED.BMP"
!define STARTUP_SHORTCUT "$SMSTARTUP\${PRODUCT}.lnk"
; The input-lock device the agent opens at start (it ends when the device does not open).
!define DEVICE "\\.\VORLEK"
; The packages' custom actions, whose check of the consoles' addresses setup shares.
!define ACTIONS "VorlekMsiActions.dll"

!include "${SOURCE_DIR}/common.nsh"
!include nsDialogs.nsh
!include TextFunc.nsh
!include WinVer.nsh

Var Servers         ; the consoles' addresses, separated by commas
Var ServersGiven    ; 1 when "servers" is to be written from $Servers
Var ServersInFile   ; the entries of an existing "servers", as the page showed them
Var ServersLines    ; the content of "servers" to write
Var ServersField
Var RoomKeysGiven   ; 1 when "roomkeys" is to be written from $RoomKeysLines
Var RoomKeysLines   ; the content of "roomkeys" to write: the consoles' public lines
Var Hold            ; the agent's /hold= value: "device", "hooks", or "" while not chosen
Var Orders          ; its /orders= value: "any", "servers", "signed", or "" while not chosen
Var OrdersBox
Var Start           ; its /start= value: "available", "blocked", or "" while not chosen
Var StartBox
Var Countdown       ; its /countdown= value: "off", "on", or "" while not chosen
Var CountdownBox
Var DeviceThere     ; 1 when the input-lock device opens

; The switches the installation chose are kept with its uninstall entry, for the next upgrade.
!define HOLD_VALUE "Hold"
!define ORDERS_VALUE "Orders"
!define START_VALUE "Start"
!define COUNTDOWN_VALUE "Countdown"
; Under /orders=servers without a console in "servers" the agent stops at every start.
!define NOBODY_TO_OBEY "/orders=servers needs the address of a console: with none, the agent would obey nobody and stop at every start."
; Under /orders=signed without a usable "roomkeys" the agent refuses to start.
; Windows XP has no CNG: there the agent would refuse every start under /orders=signed.
!define NO_CNG "/orders=signed needs Windows Vista or later: on this Windows the agent would refuse to start."
!define NO_ROOM_KEYS "/orders=signed needs the public line of every console (/ROOMKEYS=): without a usable $\"roomkeys$\" the agent would refuse to start."

; Setup never ends or starts an agent: it often runs as another user, or silently in session 0,
; where an agent would hold port 10001 out of sight and keep the next logon's agent from binding
; it. A running agent keeps the station protected until the logon that starts the new one.
!define NEXT_LOGON "Setup starts no agent: the new ${PROGRAM} starts at the next logon. An agent that runs now goes on protecting this workstation until then."

!insertmacro MUI_PAGE_DIRECTORY
; The blank caption keeps the window's title the same on every page, as the standard pages do.
PageEx custom
    PageCallbacks ServersPage ServersPageLeave
    Caption " "
PageExEnd
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${NEXT_LOGON}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro VORLEK_VERSION_KEYS

; ParseServers: turns $Servers (entries separated by commas, blanks around them allowed) into
; the lines of "servers" in $ServersLines, by the one rule that the agent's package checks
; SERVERS with, in the packages' actions (see .onInit). $0 is "" when every entry is usable,
; else why not.
Function ParseServers
    StrCpy $2 $Servers
    System::Call `$PLUGINSDIR\${ACTIONS}::HostListLines(w r2, w .r1, i ${NSIS_MAX_STRLEN}) i .r0 ?u`
    StrCpy $ServersLines ""
    ${If} $0 == 1
        StrCpy $ServersLines $1
        StrCpy $0 ""
    ${ElseIf} $0 == 0
        StrCpy $0 $1
    ${Else}
        StrCpy $0 "The addresses could not be checked: $PLUGINSDIR\${ACTIONS} did not load."
    ${EndIf}
FunctionEnd

; Reads /ROOMKEYS= of the command line in $R0, when it is given, into $RoomKeysLines by the rule
; that the agent's package checks ROOMKEYS with; a refusal ends the run. The value runs up to the
; next blank and slash: a public line's BASE64 holds slashes, but never after a blank.
Function ReadRoomKeysOption
    ${WordFind} $R0 "/ROOMKEYS=" "E+1}" $2
    ${If} ${Errors}
        Return
    ${EndIf}
    ${WordFind} $2 " /" "+1{" $2
    StrCpy $RoomKeysGiven 1
    System::Call `$PLUGINSDIR\${ACTIONS}::RoomKeysLines(w r2, w .r1, i ${NSIS_MAX_STRLEN}) i .r0 ?u`
    ${If} $0 == 1
        StrCpy $RoomKeysLines $1
        Return
    ${ElseIf} $0 == 0
        StrCpy $0 $1
    ${Else}
        StrCpy $0 "The public lines could not be checked: $PLUGINSDIR\${ACTIONS} did not load."
    ${EndIf}
    !insertmacro Report "/ROOMKEYS=: $0 Nothing was changed."
    SetErrorLevel ${EXIT_UNCHANGED}
    Quit
FunctionEnd

; The first word of the line in $1, in $1, as the agent reads it: any white space (blank, tab,
; vertical tab, form feed, line ends) separates words. Uses $2 and $3.
Function FirstWord
    StrCpy $3 0     ; where the word begins, then its length
    ${Do}
        StrCpy $2 $1 1 $3
        Call IsWhiteSpace
        ${If} $2 != 1
            ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
    ${Loop}
    StrCpy $1 $1 "" $3
    StrCpy $3 0
    ${Do}
        StrCpy $2 $1 1 $3
        ${If} $2 == ""
            ${Break}
        ${EndIf}
        Call IsWhiteSpace
        ${If} $2 == 1
            ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
    ${Loop}
    StrCpy $1 $1 $3
FunctionEnd

; $2, one character, becomes 1 when it is white space, else 0.
Function IsWhiteSpace
    ${If} $2 == " "
    ${OrIf} $2 == "$\t"
    ${OrIf} $2 == "$\n"
    ${OrIf} $2 == "$\r"
    ${OrIf} $2 == $R1
    ${OrIf} $2 == $R2
        StrCpy $2 1
    ${Else}
        StrCpy $2 0
    ${EndIf}
FunctionEnd

; The entries of an existing "servers", separated by commas, in $ServersInFile.
Function ReadServersFile
    StrCpy $ServersInFile ""
    IntFmt $R1 "%c" 11  ; vertical tab, for IsWhiteSpace
    IntFmt $R2 "%c" 12  ; form feed
    ClearErrors
    FileOpen $0 "$INSTDIR\servers" r
    ${If} ${Errors}
        Return
    ${EndIf}
    ${Do}
        ClearErrors
        FileRead $0 $1
        ${If} ${Errors}
            ${Break}
        ${EndIf}
        Call FirstWord
        StrCpy $2 $1 1
        ${If} $1 != ""
        ${AndIf} $2 != "#"
            ${If} $ServersInFile == ""
                StrCpy $ServersInFile $1
            ${Else}
                StrCpy $ServersInFile "$ServersInFile,$1"
            ${EndIf}
        ${EndIf}
    ${Loop}
    FileClose $0
FunctionEnd

Function .onInit
    InitPluginsDir
    File "/oname=$PLUGINSDIR\${ACTIONS}" "${ACTIONS_DLL}"
    ${GetParameters} $R0
    ; A switch quoted as a whole ("/SERVERS=a, b") reads like one that is not.
    ${WordReplace} $R0 `"` "" "+" $R0
    ClearErrors
    ${GetOptions} $R0 "/SERVERS=" $Servers
    ${IfNot} ${Errors}
        StrCpy $ServersGiven 1
        Call ParseServers
        ${If} $0 != ""
            ${If} ${Silent}
                !insertmacro Report "/SERVERS=: $0 Nothing was changed."
                SetErrorLevel ${EXIT_UNCHANGED}
                Quit
            ${EndIf}
            MessageBox MB_OK|MB_ICONEXCLAMATION "/SERVERS=: $0"
        ${EndIf}
    ${EndIf}
    !insertmacro ReadSwitchOption "/HOLD=" $Hold "device" "hooks"
    !insertmacro ReadSwitchChoice "/ORDERS=" $Orders "any" "servers" "signed" \
        "not any, servers or signed"
    Call ReadRoomKeysOption
    !insertmacro ReadSwitchOption "/START=" $Start "available" "blocked"
    !insertmacro ReadSwitchOption "/COUNTDOWN=" $Countdown "off" "on"
    ; Without the options an upgrade keeps the earlier installation's choice; an installation
    ; from before the switches obeyed everyone, and so does its upgrade.
    ${If} $Hold == ""
        ReadRegStr $Hold HKLM "${UNINSTALL_KEY}" "${HOLD_VALUE}"
    ${EndIf}
    ${If} $Orders == ""
        ReadRegStr $Orders HKLM "${UNINSTALL_KEY}" "${ORDERS_VALUE}"
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayName"
        ${If} $Orders == ""
        ${AndIf} $0 != ""
            StrCpy $Orders "any"
        ${EndIf}
    ${EndIf}
    ${If} $Start == ""
        ReadRegStr $Start HKLM "${UNINSTALL_KEY}" "${START_VALUE}"
    ${EndIf}
    ${If} $Countdown == ""
        ReadRegStr $Countdown HKLM "${UNINSTALL_KEY}" "${COUNTDOWN_VALUE}"
    ${EndIf}
FunctionEnd

Function ServersPage
    ${If} $ServersGiven != 1
        Call ReadServersFile
        StrCpy $Servers $ServersInFile
    ${EndIf}
    ; Obeying only the listed consoles is on by default when consoles are listed.
    ${If} $Orders == ""
    ${AndIf} $Servers != ""
        StrCpy $Orders "servers"
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "Vorlek Server address" \
        "The computer whose Vorlek Server this workstation answers to."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 36u "Address of the operator's computer, the one that runs Vorlek Server (for instance 192.168.1.10). For several consoles separate the addresses with commas. A computer name works only when it holds no digit. Left empty, the agent looks for its consoles by broadcast."
    Pop $0
    ${NSD_CreateText} 0 40u 100% 12u $Servers
    Pop $ServersField
    ${NSD_SetFocus} $ServersField
    ; Signed orders are chosen by /ORDERS=signed only; the page shows the choice and keeps it.
    ${If} $Orders == "signed"
        ${NSD_CreateCheckbox} 0 58u 100% 12u "Obey only orders signed by a console in $\"roomkeys$\" (/orders=signed)"
        Pop $OrdersBox
        ${NSD_Check} $OrdersBox
        EnableWindow $OrdersBox 0
    ${Else}
        ${NSD_CreateCheckbox} 0 58u 100% 12u "Obey only these consoles (/orders=servers)"
        Pop $OrdersBox
        ${If} $Orders == "servers"
            ${NSD_Check} $OrdersBox
        ${EndIf}
    ${EndIf}
    ${NSD_CreateCheckbox} 0 72u 100% 12u "Lock the station until the console gives it time"
    Pop $StartBox
    ${If} $Start == "blocked"
        ${NSD_Check} $StartBox
    ${EndIf}
    ${NSD_CreateCheckbox} 0 86u 100% 12u "Show the customer the time left in a corner of the screen"
    Pop $CountdownBox
    ${If} $Countdown == "on"
        ${NSD_Check} $CountdownBox
    ${EndIf}
    ${NSD_CreateLabel} 0 104u 100% 36u "Where the input-lock driver is installed, it holds keyboard and mouse of a locked workstation (/hold=device); where it is not, the agent holds them itself (/hold=hooks). The agent starts at every logon, from the Startup folder of all users."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function ServersPageLeave
    ${NSD_GetText} $ServersField $Servers
    Call ParseServers
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "$0"
        ${NSD_SetFocus} $ServersField
        Abort
    ${EndIf}
    ; An unchanged list leaves the file as the operator wrote it, comments and all.
    ${If} $Servers != $ServersInFile
        StrCpy $ServersGiven 1
    ${EndIf}
    ; The box of signed orders is disabled: that choice stays as given.
    ${If} $Orders != "signed"
        ${NSD_GetState} $OrdersBox $0
        ${If} $0 != ${BST_CHECKED}
            StrCpy $Orders "any"
        ${ElseIf} $Servers == ""
            MessageBox MB_OK|MB_ICONEXCLAMATION "${NOBODY_TO_OBEY}"
            ${NSD_SetFocus} $ServersField
            Abort
        ${Else}
            StrCpy $Orders "servers"
        ${EndIf}
    ${EndIf}
    ${NSD_GetState} $StartBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Start "blocked"
    ${Else}
        StrCpy $Start "available"
    ${EndIf}
    ${NSD_GetState} $CountdownBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Countdown "on"
    ${Else}
        StrCpy $Countdown "off"
    ${EndIf}
FunctionEnd

; $0 is 1 when the input-lock device opens.
Function DeviceOpens
    System::Call `kernel32::CreateFileW(w "${DEVICE}", i 0x80000000, i 1, p 0, i 3, i 0, p 0) p .r1`
    ${If} $1 = -1
        StrCpy $0 0
    ${Else}
        System::Call `kernel32::CloseHandle(p r1)`
        StrCpy $0 1
    ${EndIf}
FunctionEnd

; Chooses the switches that were neither given nor kept from the earlier installation: the
; input-lock device holds the input where it opens, the agent's hooks where it does not; the
; agent obeys only its consoles once "servers" will name one. $0 is "" when the agent can start
; under the switches, else why it cannot.
Function ChooseSwitches
    ${If} $ServersGiven == 1
        StrCpy $5 $ServersLines
    ${Else}
        Call ReadServersFile
        StrCpy $5 $ServersInFile
    ${EndIf}
    Call DeviceOpens
    StrCpy $DeviceThere $0
    ${If} $Hold == ""
        ${If} $DeviceThere == 1
            StrCpy $Hold "device"
        ${Else}
            StrCpy $Hold "hooks"
        ${EndIf}
    ${EndIf}
    ${If} $Orders == ""
        ${If} $5 == ""
            StrCpy $Orders "any"
        ${Else}
            StrCpy $Orders "servers"
        ${EndIf}
    ${EndIf}
    ${If} $Start == ""
        StrCpy $Start "available"
    ${EndIf}
    ${If} $Countdown == ""
        StrCpy $Countdown "off"
    ${EndIf}
    StrCpy $0 ""
    ${If} $Orders == "servers"
    ${AndIf} $5 == ""
        StrCpy $0 "${NOBODY_TO_OBEY}"
    ${ElseIf} $Orders == "signed"
    ${AndIfNot} ${AtLeastWinVista}
        StrCpy $0 "${NO_CNG}"
    ${ElseIf} $Orders == "signed"
    ${AndIf} $RoomKeysGiven != 1
        System::Call `$PLUGINSDIR\${ACTIONS}::HasRoomKeys(w "$INSTDIR\roomkeys") i .r1 ?u`
        ${If} $1 != 1
            StrCpy $0 "${NO_ROOM_KEYS}"
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Vorlek Client"
    SetShellVarContext all

    Call ChooseSwitches
    ${If} $0 != ""
        !insertmacro GiveUp "$0 Nothing was changed."
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

    ; A customised lock picture stays.
    ${IfNot} ${FileExists} "$INSTDIR\${PICTURE}"
        File "/oname=$INSTDIR\${PICTURE}" "${RELEASE_DIR}/${PICTURE}"
    ${EndIf}

    ${If} $ServersGiven == 1
        ClearErrors
        FileOpen $0 "$INSTDIR\servers" w
        FileWrite $0 $ServersLines
        FileClose $0
        ${If} ${Errors}
            !insertmacro Report "$INSTDIR\servers could not be written: the agent will look for its consoles by broadcast."
        ${EndIf}
    ${ElseIfNot} ${FileExists} "$INSTDIR\servers"
        !insertmacro Report "No console address was given (/SERVERS=): the agent will look for its consoles by broadcast."
    ${EndIf}

    ${If} $RoomKeysGiven == 1
        ClearErrors
        FileOpen $0 "$INSTDIR\roomkeys" w
        FileWrite $0 $RoomKeysLines
        FileClose $0
        ${If} ${Errors}
            !insertmacro Report "$INSTDIR\roomkeys could not be written: under /orders=signed the agent refuses to start until it is."
        ${EndIf}
    ${EndIf}

    ; A shortcut in the common Startup folder starts the agent at every user's logon with the
    ; installation folder ($OUTDIR) as its working directory; a Run key would start it in the
    ; system folder, where it finds no "servers". It names /start= and /countdown= only when
    ; they are not the default.
    StrCpy $0 "/hold=$Hold /orders=$Orders"
    ${If} $Start == "blocked"
        StrCpy $0 "$0 /start=blocked"
    ${EndIf}
    ${If} $Countdown == "on"
        StrCpy $0 "$0 /countdown=on"
    ${EndIf}
    CreateShortCut "${STARTUP_SHORTCUT}" "$INSTDIR\${PROGRAM}" $0 "$INSTDIR\${PROGRAM}" 0 \
        SW_SHOWNORMAL "" "Vorlek workstation agent"

    !insertmacro WriteUninstallEntry
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${HOLD_VALUE}" $Hold
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${ORDERS_VALUE}" $Orders
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${START_VALUE}" $Start
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${COUNTDOWN_VALUE}" $Countdown
    Call AddFirewallRule

    ${If} $Hold == "device"
    ${AndIf} $DeviceThere != 1
        !insertmacro Report "The input-lock driver is not installed on this computer: ${PROGRAM} shows $\"Failed to open vorlek device$\" and ends at every start until it is. Install the driver as the operator's guide says."
    ${EndIf}

    DetailPrint "${NEXT_LOGON}"
    DetailPrint "${PRODUCT} ${VERSION} installed in $INSTDIR."
    ${If} ${Silent}
        !insertmacro Report "${NEXT_LOGON}"
        !insertmacro Report "${PRODUCT} ${VERSION} installed in $INSTDIR."
    ${EndIf}
SectionEnd

Function un.StopAgent
    nsExec::ExecToStack `"$SYSDIR\taskkill.exe" /F /IM ${PROGRAM}`
    Pop $0
    Pop $1
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    Call un.StopAgent
    ${For} $1 1 10
        ClearErrors
        Delete "$INSTDIR\${PROGRAM}"
        ${IfNot} ${Errors}
            ${Break}
        ${EndIf}
        Sleep 500
    ${Next}
    ${If} ${Errors}
        !insertmacro UnReport "$INSTDIR\${PROGRAM} is in use. End it and uninstall again; nothing was removed."
        SetErrorLevel ${EXIT_UNCHANGED}
        Abort
    ${EndIf}
    Delete "$INSTDIR\${PROGRAM}.old*"
    Delete "${STARTUP_SHORTCUT}"
    ; The log of earlier runs goes; what this run cannot do is logged anew.
    Delete "$INSTDIR\${SETUP_LOG}"
    Call un.RemoveFirewallRule
    !insertmacro RemoveUninstallEntry
    ; "servers", "roomkeys" and "BLOCKED.BMP" are the operator's settings of this station and
    ; stay, so a later installation finds them; so does the folder then.
    RMDir "$INSTDIR"
SectionEnd
