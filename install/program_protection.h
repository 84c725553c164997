// Whether a program that is to run with the highest rights at every logon
// could be replaced by anyone but an administrator.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

// Rights that let a holder replace a file's content or the file itself.
inline constexpr DWORD kFileReplaceRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder that let a holder put files into it, remove or rename
// what it holds, or take it over. Adding subfolders alone is not among them:
// every system drive's root grants that to all users.
inline constexpr DWORD kFolderReplaceRights =
    FILE_ADD_FILE | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Whether `sid` is Administrators, SYSTEM or TrustedInstaller: the only
// holders of change rights that an elevated program may trust. A user's own
// account is not among them, even an administrator's: that user's ordinary
// programs run under the same account.
[[nodiscard]] bool IsTrustedChanger(PSID sid);

// Whether an object with this owner and access list could be changed by an
// untrusted holder: an owner that is not trusted (an owner may always
// rewrite the access list), a null access list, or an allow entry that
// gives any of `rights` to anyone else. Inherit-only entries do not apply to
// the object itself; an entry that cannot be read counts as a grant.
[[nodiscard]] bool OthersCanChange(PSID owner, const ACL* dacl, DWORD rights);

// The folders that hold `path`, innermost first, down to its root ("C:\",
// "\\server\share"); empty when `path` names no folder.
[[nodiscard]] std::vector<std::wstring> ContainingFolders(const std::wstring& path);

// Whether the object at a path could be changed by others with any of the
// rights given (true also when its security cannot be read).
using ObjectChangeCheck = std::function<bool(const std::wstring& path, DWORD rights)>;

// Whether the file at `programPath` (for kFileReplaceRights), its folder or
// any folder above it (for kFolderReplaceRights) can be changed by anyone but
// an administrator, as `othersCanChange` reads each of them; a path that
// names no folder counts as replaceable.
[[nodiscard]] bool OthersCanReplaceProgram(const std::wstring& programPath, const ObjectChangeCheck& othersCanChange);
// The same reading each object's owner and access list from the file system;
// true also when any of their security cannot be read, since nothing then
// shows that the program is safe.
[[nodiscard]] bool OthersCanReplaceProgram(const std::wstring& programPath);

}  // namespace tarnwick
