// Resource and control ids of VorlekServer's dialogs, menu and accelerators. Plain macros: the
// resource compiler reads this header too.
#pragma once

// Resources.
#define IDD_MAIN 101
#define IDR_ACCELERATORS 103
#define IDR_MAIN_MENU 105
#define IDD_TIMEOUT 106
#define IDD_PERIODIC_CHECK 107
#define IDD_CLIENT_WARNING 109
#define IDD_EDIT_CLIENTS 110
#define IDD_ADD_CLIENT 111

// Main dialog 101.
#define IDC_STATION_LIST 1006
#define IDC_DEATH_TIMER 1008
#define IDC_PAUSE 1013
#define IDC_RESUME 1015
#define IDC_UPDATE 1016
#define IDC_EXIT 1017
#define IDC_BLOCK 1018
#define IDC_FREE 1019
#define IDC_UNLIMITED 1020
#define IDC_ADD_5_SECONDS 1021
#define IDC_ADD_10_SECONDS 1022
#define IDC_ADD_30_SECONDS 1023
#define IDC_ADD_1_MINUTE 1024
#define IDC_ADD_2_MINUTES 1025
#define IDC_ADD_3_MINUTES 1026
#define IDC_ADD_5_MINUTES 1027
#define IDC_ADD_10_MINUTES 1029
#define IDC_ADD_20_MINUTES 1030
#define IDC_ADD_30_MINUTES 1031
#define IDC_ADD_1_HOUR 1032
#define IDC_ADD_2_HOURS 1033
#define IDC_ADD_3_HOURS 1034
#define IDC_ADD_5_HOURS 1035
#define IDC_ADD_1_DAY 1036
#define IDC_LOGOFF 1100
#define IDC_REBOOT 1101

// Timeout dialog 106.
#define IDC_TIMEOUT_ENABLE 1038
#define IDC_TIMEOUT_VALUE 1010
#define IDC_TIMEOUT_SET 1040
#define IDC_TIMEOUT_CLOSE 1041

// Periodic Check dialog 107.
#define IDC_PERIODIC_CHECK_PERFORM 1042
#define IDC_PERIODIC_CHECK_PERIOD 1043
#define IDC_PERIODIC_CHECK_SET 1044
#define IDC_PERIODIC_CHECK_CLOSE 1045

// Client Warning dialog 109.
#define IDC_CLIENT_WARNING_ENABLE 1046
#define IDC_CLIENT_WARNING_VALUE 1052
#define IDC_CLIENT_WARNING_SET 1053
#define IDC_CLIENT_WARNING_CLOSE 1048

// Edit Clients List dialog 110.
#define IDC_CLIENT_ENTRIES 1054
#define IDC_CLIENT_ADD 1055
#define IDC_CLIENT_REMOVE 1056
#define IDC_CLIENT_SAVE 1057
#define IDC_CLIENT_CLOSE 1058

// Add Client dialog 111.
#define IDC_NEW_CLIENT_NAME 1057
#define IDC_NEW_CLIENT_OK 1058
#define IDC_NEW_CLIENT_CANCEL 1059

// Accelerators 103 (Alt + the letter).
#define IDA_UPDATE 40001
#define IDA_PAUSE 40002
#define IDA_RESUME 40003
#define IDA_BLOCK 40004
#define IDA_FREE 40005
#define IDA_UNLIMITED 40006
#define IDA_EXIT 40007
#define IDA_DEATH_TIMER 40008  // the letter of the "&Death Timer" label; no action
#define IDA_REBOOT 40009
#define IDA_ALT_T 40010  // bound to no action
#define IDA_FOCUS_CLIENTS 40011
#define IDA_LOGOFF 40019

// Menu 105.
#define IDM_EXIT 40013
#define IDM_PERIODIC_CHECK 40014
#define IDM_TIMEOUT 40015
#define IDM_CLIENT_WARNING 40016
#define IDM_EDIT_CLIENT_LIST 40017
#define IDM_ABOUT 40018
