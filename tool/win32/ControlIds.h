// Window control identifiers, shared with the end-to-end test program that
// drives the tool from outside.
#pragma once

#define PESOCONF_CTL_BASE 1000  // + the control's index in pesoconf::Ctl
#define PESOCONF_ID_CLOSE_MARK 1100
#define PESOCONF_ID_MINIMIZE_MARK 1101
#define PESOCONF_MAIN_CLASS L"TMainForm"
#define PESOCONF_HELP_CLASS L"THelpForm"
