/* Resource and control identifiers, shared by QuarnUpdater.rc and the window code. Plain
   preprocessor macros because the resource compiler reads this file too. */
#ifndef QUARN_RESOURCE_IDS_H
#define QUARN_RESOURCE_IDS_H

#define IDB_LOGO 107
#define IDI_PROGRAM 108

#define IDC_PROGRAM 1001
#define IDC_EXIT 1002
#define IDC_ABOUT 1003
#define IDC_STATUS_LOG 1005
#define IDC_LOGO 1006

/* Dialogs are looked up by name: USB3_FWUPDATE (main window) and ABOUTBOX. */

#endif
