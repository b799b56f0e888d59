#include <windows.h>

#include "frmupdate.h"

// Arguments are ignored: every path comes from the program's own folder.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    frmupdate::load(hInstance);
    return 0;
}
