// Resource identifiers shared by tolv.rc and the code.
#pragma once

#define IDI_TRAY 1        // the tray form's icon; first, so it is the program icon
#define IDI_MAIN 2        // the library window's icon, also shown in the tray during transfers
#define IDI_ITEM 3        // issue and file items in the lists
#define IDI_MESS 4        // the message dialog's picture
#define IDB_TOOLBAR 10    // strip of the five large toolbar pictures (32 x 32 each), at 100 %
#define IDB_SMALLTOOLBAR 11  // strip of the three small toolbar pictures (16 x 16 each), at 100 %
// The same strips for screens at 125, 150 and 200 %: cells of 40, 48 and 64
// pixels (large) and of 20, 24 and 32 pixels (small). Each is a 32-bit bitmap
// with an alpha channel; library/Pictures.h picks the one for a DPI.
#define IDB_TOOLBAR_125 12
#define IDB_TOOLBAR_150 13
#define IDB_TOOLBAR_200 14
#define IDB_SMALLTOOLBAR_125 15
#define IDB_SMALLTOOLBAR_150 16
#define IDB_SMALLTOOLBAR_200 17
