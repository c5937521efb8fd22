; What the installers of the console and the agent share: version information, the uninstall
; entry, the firewall rule, safe replacement of a program and the reporting of problems.
;
; Defines given by the build: VERSION, COPYRIGHT, RELEASE_DIR, SOURCE_DIR, OUTPUT, and AMD64 in
; the 64-bit build.
; Defines given by the script that includes this file: PRODUCT (shown name), PROGRAM (file name
; of the program), KEY (name of the uninstall entry).

; The installer is of the programs' own architecture: a 64-bit one installs the 64-bit programs
; into the 64-bit Program Files and writes the 64-bit registry.
!ifdef AMD64
    Target amd64-unicode
    !define PROGRAM_FILES "$PROGRAMFILES64"
!else
    Unicode true
    !define PROGRAM_FILES "$PROGRAMFILES"
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include MUI2.nsh

!define STATION_PORT 10001
!define PUBLISHER "The Vorlek developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}"
!define UNINSTALLER "Uninstall.exe"
; In a silent run, problems and the outcome are written here instead of shown in boxes.
!define SETUP_LOG "setup.log"

; Exit codes of a run: 0 installed, 2 nothing changed (NSIS uses 2 for an aborted run as well),
; 3 installed, but the firewall rule could not be added.
!define EXIT_UNCHANGED 2
!define EXIT_NO_FIREWALL_RULE 3

Name "${PRODUCT}"
OutFile "${OUTPUT}"
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
; An upgrade goes where the last installation went, unless /D= says otherwise.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Vorlek ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

!macro VORLEK_VERSION_KEYS
    VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Vorlek"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Setup of ${PRODUCT} ${VERSION}"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"
    VIAddVersionKey /LANG=${LANG_ENGLISH} "OriginalFilename" "${KEY}-setup.exe"
!macroend

; Report TEXT: a box for the person at the machine; in a silent run a line of setup.log in the
; installation folder, where whoever pushed the installer finds it.
!macro VORLEK_REPORT_FUNCTION un
    Function ${un}Report
        Exch $0
        Push $1
        ${If} ${Silent}
            CreateDirectory "$INSTDIR"
            ClearErrors
            FileOpen $1 "$INSTDIR\${SETUP_LOG}" a
            ${IfNot} ${Errors}
                FileSeek $1 0 END
                FileWrite $1 "$0$\r$\n"
                FileClose $1
            ${EndIf}
        ${Else}
            MessageBox MB_OK|MB_ICONEXCLAMATION "$0"
        ${EndIf}
        Pop $1
        Pop $0
    FunctionEnd
!macroend
!insertmacro VORLEK_REPORT_FUNCTION ""
!insertmacro VORLEK_REPORT_FUNCTION "un."

!macro Report TEXT
    Push `${TEXT}`
    Call Report
!macroend
!macro UnReport TEXT
    Push `${TEXT}`
    Call un.Report
!macroend

; Ends the run before anything was changed, or after every change was undone.
!macro GiveUp TEXT
    !insertmacro Report `${TEXT}`
    SetErrorLevel ${EXIT_UNCHANGED}
    Abort
!macroend

; Reads the option OPTION (as "/HOLD=") of the command line in $R0 into VAR when it is given:
; one of the values FIRST and SECOND, in the letters of the value. Any other value ends the run.
!macro ReadSwitchOption OPTION VAR FIRST SECOND
    !insertmacro ReadSwitchChoice "${OPTION}" ${VAR} "${FIRST}" "${SECOND}" "" \
        "neither ${FIRST} nor ${SECOND}"
!macroend
; The same with a third value; NAMED is how the refusal names the values.
!macro ReadSwitchChoice OPTION VAR FIRST SECOND THIRD NAMED
    ClearErrors
    ${GetOptions} $R0 "${OPTION}" ${VAR}
    ${If} ${Errors}
        StrCpy ${VAR} ""
    ${ElseIf} ${VAR} == "${FIRST}"
        StrCpy ${VAR} "${FIRST}"
    ${ElseIf} ${VAR} == "${SECOND}"
        StrCpy ${VAR} "${SECOND}"
    !if "${THIRD}" != ""
    ${ElseIf} ${VAR} == "${THIRD}"
        StrCpy ${VAR} "${THIRD}"
    !endif
    ${Else}
        !insertmacro Report `${OPTION}: "${VAR}" is ${NAMED}. Nothing was changed.`
        SetErrorLevel ${EXIT_UNCHANGED}
        Quit
    ${EndIf}
!macroend

; Runs netsh with ARGUMENTS (taken from the stack); $0 is its exit code ("error" when it did not
; start), $1 its output.
!macro VORLEK_NETSH_FUNCTION un
    Function ${un}Netsh
        Pop $0
        DetailPrint "netsh $0"
        nsExec::ExecToStack `"$SYSDIR\netsh.exe" $0`
        Pop $0
        Pop $1
    FunctionEnd
!macroend
!insertmacro VORLEK_NETSH_FUNCTION ""
!insertmacro VORLEK_NETSH_FUNCTION "un."

; The start of a program's output, without line ends, short enough to fit in a message (texts of
; the installer hold at most 1024 characters).
!define OUTPUT_SHOWN 300
!macro VORLEK_SHORT_OUTPUT_FUNCTION un
    Function ${un}ShortOutput
        Exch $0
        Push $1
        StrCpy $0 $0 ${OUTPUT_SHOWN}
        ${WordReplace} $0 "$\r$\n" " " "+" $0
        ${WordReplace} $0 "$\n" " " "+" $0
        ${WordReplace} $0 "$\r" " " "+" $0
        Pop $1
        Exch $0
    FunctionEnd
!macroend
!insertmacro VORLEK_SHORT_OUTPUT_FUNCTION ""
!insertmacro VORLEK_SHORT_OUTPUT_FUNCTION "un."

; The inbound rule of the program: its datagrams all arrive at UDP port 10001. A rule of the same
; name from an earlier installation is deleted first, so an upgrade leaves exactly one. Windows XP
; has no "advfirewall": there the program is allowed through its firewall instead.
!define ADD_RULE `advfirewall firewall add rule name="${PRODUCT}" dir=in action=allow program="$INSTDIR\${PROGRAM}" protocol=UDP localport=${STATION_PORT} enable=yes profile=any`
!define DELETE_RULE `advfirewall firewall delete rule name="${PRODUCT}"`
!define ALLOW_PROGRAM_XP `firewall add allowedprogram program="$INSTDIR\${PROGRAM}" name="${PRODUCT}" mode=ENABLE profile=ALL`
!define DELETE_PROGRAM_XP `firewall delete allowedprogram program="$INSTDIR\${PROGRAM}" profile=ALL`

Function AddFirewallRule
    Push `${DELETE_RULE}`
    Call Netsh
    Push `${ADD_RULE}`
    Call Netsh
    ${If} $0 != 0
        StrCpy $3 $0
        StrCpy $4 $1
        Push `${ALLOW_PROGRAM_XP}`
        Call Netsh
        ${If} $0 != 0
            Push $4
            Call ShortOutput
            Pop $4
            StrCpy $2 "The firewall rule for ${PRODUCT} could not be added (netsh ended with $3).$\r$\n${PRODUCT} is installed, but its datagrams may be dropped: allow inbound UDP port ${STATION_PORT} for $INSTDIR\${PROGRAM} by hand.$\r$\nnetsh said: $4"
            !insertmacro Report $2
            SetErrorLevel ${EXIT_NO_FIREWALL_RULE}
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.RemoveFirewallRule
    Push `${DELETE_RULE}`
    Call un.Netsh
    ${If} $0 != 0
        StrCpy $3 $0
        StrCpy $4 $1
        Push `${DELETE_PROGRAM_XP}`
        Call un.Netsh
        ${If} $0 != 0
            Push $4
            Call un.ShortOutput
            Pop $4
            StrCpy $2 "The firewall rule for ${PRODUCT} could not be removed (netsh ended with $3). Remove the rule $\"${PRODUCT}$\" by hand.$\r$\nnetsh said: $4"
            !insertmacro UnReport $2
        ${EndIf}
    ${EndIf}
FunctionEnd

; Puts the new copy of the program in the place of the installed one without ending a program
; that runs from it: the installed file is renamed aside (the file of a running program can be
; renamed, though not deleted), the new copy is moved in, and the old file is removed last (if its
; program still runs, it stays until a later run of setup removes it). When the new copy cannot be
; moved in, the old file is put back. $0 is 1 when the new copy is in place, 0 when the installed
; program stays as it was.
!define ASIDE_LIMIT 99
!define NOT_REPLACED "$INSTDIR\${PROGRAM} could not be replaced: another program holds it or its new copy open. The installed version was kept; run setup again later."
!macro ReplaceProgram
    ; A new copy that could not be written whole (the disk is full, another program holds the
    ; name) is never moved in.
    ClearErrors
    File "/oname=$INSTDIR\${PROGRAM}.new" "${RELEASE_DIR}/${PROGRAM}"
    ${If} ${Errors}
        Delete "$INSTDIR\${PROGRAM}.new"
        StrCpy $0 0
    ${Else}
        Call ReplaceProgram
    ${EndIf}
!macroend
Function ReplaceProgram
    StrCpy $0 0
    ; Old files of earlier runs whose programs have ended since.
    Delete "$INSTDIR\${PROGRAM}.old*"
    StrCpy $2 ""    ; where the installed file was put aside
    ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
        ${For} $1 1 ${ASIDE_LIMIT}
            ${IfNot} ${FileExists} "$INSTDIR\${PROGRAM}.old$1"
                StrCpy $2 "$INSTDIR\${PROGRAM}.old$1"
                ${Break}
            ${EndIf}
        ${Next}
        ClearErrors
        ${If} $2 == ""
            SetErrors
        ${Else}
            Rename "$INSTDIR\${PROGRAM}" $2
        ${EndIf}
        ${If} ${Errors}
            Delete "$INSTDIR\${PROGRAM}.new"
            Return
        ${EndIf}
        DetailPrint "The installed ${PROGRAM} was put aside as $2."
    ${EndIf}
    ; A virus scanner may still be reading the new copy.
    ${For} $1 1 10
        ClearErrors
        Rename "$INSTDIR\${PROGRAM}.new" "$INSTDIR\${PROGRAM}"
        ${IfNot} ${Errors}
            StrCpy $0 1
            ${Break}
        ${EndIf}
        Sleep 500
    ${Next}
    ${If} $0 != 1
        Delete "$INSTDIR\${PROGRAM}.new"
        ${If} $2 != ""
            Rename $2 "$INSTDIR\${PROGRAM}"
            DetailPrint "The new ${PROGRAM} could not be moved in; the installed one was put back."
        ${EndIf}
    ${ElseIf} $2 != ""
        ClearErrors
        Delete $2
        ${If} ${Errors}
            DetailPrint "The old ${PROGRAM} still runs from $2; a later run of setup removes that file."
        ${EndIf}
    ${EndIf}
FunctionEnd

; The entry in the system's list of installed programs.
!macro WriteUninstallEntry
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\${UNINSTALLER}$\""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\${UNINSTALLER}$\" /S"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
!macroend

!macro RemoveUninstallEntry
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Delete "$INSTDIR\${UNINSTALLER}"
!macroend
