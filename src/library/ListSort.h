// Sorting the window's list views by the text of one column.
#pragma once
#include <windows.h>

// Sorts by the text of column iColumn (0 = the item text), letter case ignored.
void sortListByText(HWND list, int iColumn, bool bDescending);
// The direction toggle one list shares among its columns: the first click
// sorts descending, each further click flips the direction.
bool toggleSortDirection(float& toggle);
