// Resource and menu command ids of Q417_Stepper.exe, shared by the resource script and the code.
#pragma once

#define IDR_MAINMENU 100

#define IDM_NEWPROJECT 101
#define IDM_OPENPROJECT 102
#define IDM_SAVE 103
#define IDM_SAVEAS 104
#define IDM_EXIT 105
#define IDM_CONFIGURATION 111
#define IDM_MOTIONPREVIEW 112
#define IDM_ABOUT 121
#define IDM_README 122
#define IDM_HELPENGLISH 123
#define IDM_HILFEDEUTSCH 124
