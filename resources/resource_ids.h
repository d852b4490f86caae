// Identifiers of the plug-in's resources, shared by the resource script and
// the code that loads them.
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

#endif
