// A DLL that calls uxtheme.dll's #49 through a delay import by ordinal, as
// comctl32 does for the scroll bars' theme: the delay-import walker's test
// plants a hook in its import slot and calls through it.
#include <windows.h>
#include <uxtheme.h>

extern "C" {

// Resolved on first call by the delay-load helper, or by whatever was planted in its slot.
HTHEME WINAPI ProbeImportedOrdinal49(HWND window, LPCWSTR classList);

// dlltool names the descriptor after the import library (libuxtheme_delay.a).
// NOLINTNEXTLINE(bugprone-reserved-identifier,readability-identifier-naming): dlltool's name
extern const unsigned char __DELAY_IMPORT_DESCRIPTOR_libuxtheme_delay_a[];

__declspec(dllexport) HTHEME ProbeCallOrdinal49(HWND window, LPCWSTR classList) {
  return ProbeImportedOrdinal49(window, classList);
}

// GNU ld leaves the header's delay-import directory empty; the test fills it
// in from this address, as a Windows linker would have.
__declspec(dllexport) const void* ProbeDelayImportDescriptor() { return __DELAY_IMPORT_DESCRIPTOR_libuxtheme_delay_a; }
}
