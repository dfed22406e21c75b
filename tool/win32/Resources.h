#pragma once

#define IDI_PESOCONF 1
#define IDB_SHAPE 101
#define IDB_LOGO 102
#define IDB_BUTTON 103
#define IDB_BUTTON_DOWN 104
#define IDB_BUTTON_OFF 105
#define IDB_HELP 106
#define IDB_HELP_DOWN 107
