// A DLL that the window tests place beside the test program, as a stranger could place one
// beside quillon.exe in a Downloads folder: loaded by bare name, it must not be found there.

#include <windows.h>

extern "C" __declspec(dllexport) int QuillonPlantedLibrary() { return 1; }
