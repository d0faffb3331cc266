// Resource ids of VEXOLITE.CPL, shared by the resource script and the code.
#pragma once

#define IDI_APPLET 100
#define IDS_TITLE 1
#define IDS_APPLET_NAME 101
#define IDS_APPLET_INFO 102
#define IDD_BASE_ADDRESSES 103

#define IDC_INT_MEM_BASE 1000
#define IDC_EXT_MEM_BASE 1001
#define IDC_IO1_BASE 1002
#define IDC_IO2_BASE 1003
