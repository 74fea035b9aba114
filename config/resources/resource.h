// Resource numbers of the applet: dialogs, strings, the icon, the bitmaps
// and the controls the code addresses. Included by the resource script and
// by the code.
#pragma once

#define IDS_APPLET_NAME 1
#define IDS_APPLET_INFO 2
#define IDS_DIALOG_FAILED 5
#define IDS_ELEVATION_FAILED 7
#define IDS_NOTHING_STORED 8
#define IDS_PARTLY_STORED 9
#define IDS_KEY_STORED 10
#define IDS_KEY_REFUSED 11
#define IDS_REASON_DENIED 12
#define IDS_REASON_OTHER 13
#define IDS_BOARD_TOOK 14
#define IDS_BOARD_MISSED 15
#define IDS_BOARD_MISSED_STORED 16
#define IDS_OFFER_ELEVATION 17
#define IDS_CHANGES_KEPT 18

// The manifest that asks for version 6 of the common controls: the Control
// Panel makes its activation context for the applet from resource 123.
#define IDR_MANIFEST 123

#define IDD_MAIN 101
#define IDI_APPLET 103
#define IDD_INTERRUPT_PAGE 104
#define IDD_COUNTER_PAGE 105
#define IDD_INTERRUPT9_PAGE 106
#define IDD_DO_PAGE 107
#define IDD_SUPPORT_PAGE 108
#define IDB_TICK 116
#define IDB_CROSS 118

// Dialog 101
#define IDC_APPLY 3
#define IDC_ELEVATE 4
#define IDC_TAB 1000

// Dialog 104, the DI interrupt page
#define IDC_INT_ENABLE 1004
#define IDC_INT_FALLING 1006
#define IDC_INT_CHANNEL 1013
#define IDC_INT_RISING 1014
#define IDC_INT_EDGE_LABEL 1016

// Dialog 105, the counter page
#define IDC_CNT_COUNTER 1003
#define IDC_CNT_CLOCK_INTERNAL 1005
#define IDC_CNT_GATE_INTERNAL 1007
#define IDC_CNT_GATE_LINE 1008
#define IDC_CNT_OUTPUT_REGISTER 1009
#define IDC_CNT_OUTPUT_LINE 1010
#define IDC_CNT_FREQUENCY 1011
#define IDC_CNT_CLOCK_LINE 1015

// Dialog 106, the nine-channel interrupt page
#define IDC_INT9_ENABLE 1017
#define IDC_INT9_EDGE_LABEL 1018
#define IDC_INT9_RISING 1019
#define IDC_INT9_FALLING 1020
#define IDC_INT9_CHANNEL 1021

// Dialog 107, the DO page
#define IDC_DO_START_ENABLE 1022
#define IDC_DO_START_CHANNEL 1024
#define IDC_DO_START_LEVEL 1027
#define IDC_DO_SHUTDOWN_ENABLE 1028
#define IDC_DO_SHUTDOWN_CHANNEL 1029
#define IDC_DO_SHUTDOWN_LEVEL 1030

// Dialog 108, the support page: an indicator and a label per function
#define IDC_SUP_DI_MARK 1033
#define IDC_SUP_INTERRUPT_MARK 1034
#define IDC_SUP_DO_MARK 1035
#define IDC_SUP_COUNTER_MARK 1036
#define IDC_SUP_FREQUENCY_MARK 1037
#define IDC_SUP_TIMER_MARK 1038
#define IDC_SUP_PULSE_MARK 1039
#define IDC_SUP_BUZZER_MARK 1040
#define IDC_SUP_LED_MARK 1041
#define IDC_SUP_PLED_MARK 1042
#define IDC_SUP_POWER_MARK 1043
#define IDC_SUP_DI_TEXT 1046
#define IDC_SUP_INTERRUPT_TEXT 1047
#define IDC_SUP_DO_TEXT 1048
#define IDC_SUP_COUNTER_TEXT 1049
#define IDC_SUP_FREQUENCY_TEXT 1050
#define IDC_SUP_TIMER_TEXT 1051
#define IDC_SUP_PULSE_TEXT 1052
#define IDC_SUP_BUZZER_TEXT 1053
#define IDC_SUP_LED_TEXT 1054
#define IDC_SUP_PLED_TEXT 1055
#define IDC_SUP_POWER_TEXT 1056
#define IDC_SUP_GROUP 1057
