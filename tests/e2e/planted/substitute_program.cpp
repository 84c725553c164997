// A program put in the installer's place: it records that it ran, and does
// nothing else.
#include "tests/e2e/planted/planted_record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RecordThatThisRan(L"program");
  return 0;
}
