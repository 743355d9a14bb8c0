// Resource and control ids of the setup program. Included by the resource
// script (windres defines RC_INVOKED) and by the C++ sources, so only plain
// integer #defines here; the string names follow behind the C++ guard.
#ifndef QV_RESOURCES_RESOURCE_H
#define QV_RESOURCES_RESOURCE_H

// Dialog templates of the five wizard pages, in wizard order.
#define IDD_WELCOME 101
#define IDD_LICENCE 102
#define IDD_INSTALL_DIR 103
#define IDD_PROGRAM_GROUP 104
#define IDD_PROGRESS 105

// Bitmap: the wizard picture shown on every page but the licence page, and
// the box that the pages give it, in dialog units.
#define IDB_WIZARD 101
#define QV_PICTURE_BOX_WIDTH 63
#define QV_PICTURE_BOX_HEIGHT 58

// Icon groups of the two Browse buttons (loaded at the small-icon size).
#define IDI_BROWSE_FOLDER 101
#define IDI_BROWSE_GROUP 102

// Custom-type resources: the licence text ("RTF") and the archive ("ARC").
#define IDR_LICENCE 101
#define IDR_ARCHIVE 101

// Welcome page (101).
#define IDC_WELCOME_FIRST 1001   // text for a first installation
#define IDC_WELCOME_UPDATE 1002  // three-line text for an update

// Licence page (102).
#define IDC_LICENCE_TEXT 1001  // rich-edit box

// Install-folder page (103).
#define IDC_FOLDER_EDIT 1001
#define IDC_FOLDER_BROWSE 1002

// Program-group page (104).
#define IDC_GROUP_EDIT 1001
#define IDC_GROUP_BROWSE 1002
#define IDC_GROUP_NO_SHORTCUTS 1003

// Progress page (105).
#define IDC_PROGRESS_DONE 1004     // completion text, hidden at first
#define IDC_PROGRESS_HEADING 1005  // "Please wait while ..."
#define IDC_PROGRESS_STATUS 1006   // status line
#define IDC_PROGRESS_BAR 1011      // msctls_progress32

#ifndef RC_INVOKED
// Named resources and custom resource types, for FindResourceA / LoadIconA.
#define QV_MAINICON_NAME "MAINICON"
#define QV_RT_LICENCE "RTF"
#define QV_RT_ARCHIVE "ARC"
#define QV_RICHEDIT_CLASS "RICHEDIT"
#endif

#endif
