// Ids of the wizard's two dialog templates and of their controls: the one list that update.rc, the
// program, the tests' fake templates and the end-to-end driver all read. Plain #defines, so that the
// resource compiler reads it too. "次へ" and "中止" are IDOK (1) and IDCANCEL (2).
#pragma once

#define IDD_UPDATE 100           // the wizard without agreement
#define IDD_UPDATE_AGREEMENT 101 // the wizard with the agreement text and its two radio buttons

#define IDC_BACK 4
#define IDC_AGREEMENT_TEXT 1000
#define IDC_INFO 1001
#define IDC_AGREE 1002
#define IDC_DISAGREE 1003
