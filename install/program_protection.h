// Whether a program that is to run with the highest rights at every logon
// could be replaced by a user without administrative rights.
#pragma once

#include <windows.h>

#include <string>

namespace tarnwick {

// Rights that let a holder replace a file's content or the file itself.
inline constexpr DWORD kFileReplaceRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder that let a holder put files into it or remove its files.
inline constexpr DWORD kFolderReplaceRights =
    FILE_ADD_FILE | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Whether `dacl` allows any of `rights` to Users, Authenticated Users,
// Everyone or INTERACTIVE. A null DACL allows everything to everyone;
// inherit-only entries do not apply to the object itself.
[[nodiscard]] bool DaclGrantsUsers(const ACL* dacl, DWORD rights);

// Whether the file at `program_path` or its folder can be written by those
// groups; also true when either's security cannot be read, since nothing
// then shows that the program is safe.
[[nodiscard]] bool UsersCanReplaceProgram(const std::wstring& program_path);

}  // namespace tarnwick
