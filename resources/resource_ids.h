// Identifiers of the plug-in's resources and of the controls of its dialog
// templates, shared by the resource scripts and the code that loads them:
// each is defined here only.
#ifndef RESOURCES_RESOURCE_IDS_H
#define RESOURCES_RESOURCE_IDS_H

#define IDD_ABOUT 107
#define IDI_ABOUT_FRAME_1 112
#define IDI_ABOUT_FRAME_2 113
#define IDI_ABOUT_FRAME_3 114
#define IDI_ABOUT_FRAME_4 115
#define IDD_COMMENTS 116
#define IDI_COMMENTS 117
#define IDC_LINK_MICROSOFT 118
#define IDC_LINK_OTHER 119
#define IDC_ZOOM_IN 120
#define IDC_ZOOM_OUT 121

// Controls of the About dialog.
#define IDC_ABOUT_IMAGE_TEXT 1001
#define IDC_ABOUT_PLUGIN_TEXT 1002
#define IDC_ABOUT_ICON 1003

// Controls of the comments dialog.
#define IDC_COMMENTS_TEXT 1002
#define IDC_COMMENTS_ENCODING 1004

#endif
