// Resource identifiers shared by tolv.rc and the code.
#pragma once

#define IDI_TRAY 1        // the tray form's icon; first, so it is the program icon
#define IDI_MAIN 2        // the library window's icon, also shown in the tray during transfers
#define IDI_ITEM 3        // issue and file items in the lists
#define IDI_MESS 4        // the message dialog's picture
#define IDB_TOOLBAR 10    // strip of the five large toolbar pictures (32 x 32 each)
#define IDB_SMALLTOOLBAR 11  // strip of the three small toolbar pictures (16 x 16 each)
