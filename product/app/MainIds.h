// Resource and control numbers of the main program.
#pragma once

// Icon groups. 104 is the query folder type's icon, 1001 to 1004 the
// browser toolbar button (normal and hot, for older and newer systems).
#define IDI_QUERY_FOLDER 104
#define IDI_BUTTON_NORMAL_OLD 1001
#define IDI_BUTTON_HOT_OLD 1002
#define IDI_BUTTON_NORMAL 1003
#define IDI_BUTTON_HOT 1004

#define IDM_SAVE 40001
#define IDM_EXIT 40002
#define IDM_CONTENTS 40003
#define IDM_ABOUT 40004

// The search button has IDOK so that Enter in the query field searches.
#define IDC_QUERY_LABEL 200
#define IDC_QUERY 201
#define IDC_RESULTS 202
#define IDC_STATUS 203
