// A DLL that someone without administrative rights could drop beside a
// program (here named pdh.dll): it records each process that loads it.
#include "tests/e2e/planted/planted_record.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) RecordThatThisRan(L"dll");
  return TRUE;
}
