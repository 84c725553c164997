// Which access lists let a user without administrative rights replace the
// program that the logon task runs elevated.
#include "install/program_protection.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

struct Entry {
  WELL_KNOWN_SID_TYPE who;
  DWORD mask;
  BYTE flags = 0;
};

// An ACL of allow entries, built with the system's own calls.
class TestAcl {
 public:
  explicit TestAcl(const std::vector<Entry>& entries) : memory_(1024) {
    auto* acl = reinterpret_cast<ACL*>(memory_.data());
    EXPECT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(memory_.size()), ACL_REVISION));
    for (const Entry& entry : entries) {
      BYTE sid[SECURITY_MAX_SID_SIZE] = {};
      DWORD size = sizeof(sid);
      EXPECT_TRUE(::CreateWellKnownSid(entry.who, nullptr, sid, &size));
      EXPECT_TRUE(::AddAccessAllowedAceEx(acl, ACL_REVISION, entry.flags, entry.mask, sid));
    }
  }
  [[nodiscard]] const ACL* get() const { return reinterpret_cast<const ACL*>(memory_.data()); }

 private:
  std::vector<BYTE> memory_;
};

TEST(ProgramProtection, WriteRightsOfOrdinaryUsersMakeAProgramReplaceable) {
  constexpr DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    DWORD rights;
    bool replaceable;
  };
  const std::vector<Case> cases = {
      {"administrators and system only",
       {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}, {WinLocalSystemSid, GENERIC_ALL}},
       kFileReplaceRights,
       false},
      {"users may read and run",
       {{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}, {WinBuiltinUsersSid, kReadExecute}},
       kFileReplaceRights,
       false},
      {"everyone may write", {{WinWorldSid, FILE_WRITE_DATA | kReadExecute}}, kFileReplaceRights, true},
      {"authenticated users may modify", {{WinAuthenticatedUserSid, DELETE | kReadExecute}}, kFileReplaceRights, true},
      {"interactive users may change the permissions", {{WinInteractiveSid, WRITE_DAC}}, kFileReplaceRights, true},
      {"users hold generic write", {{WinBuiltinUsersSid, GENERIC_WRITE}}, kFileReplaceRights, true},
      {"users may add files to the folder",
       {{WinBuiltinUsersSid, FILE_ADD_FILE | kReadExecute}},
       kFolderReplaceRights,
       true},
      {"users may delete the folder's files", {{WinBuiltinUsersSid, FILE_DELETE_CHILD}}, kFolderReplaceRights, true},
      {"users may only add subfolders",
       {{WinBuiltinUsersSid, FILE_ADD_SUBDIRECTORY | kReadExecute}},
       kFolderReplaceRights,
       false},
      {"an inherit-only grant is for the children",
       {{WinBuiltinUsersSid, GENERIC_ALL, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE}},
       kFolderReplaceRights,
       false},
      {"a guest's grant is not ours to judge", {{WinBuiltinGuestsSid, GENERIC_ALL}}, kFileReplaceRights, false},
      {"nothing is granted", {}, kFileReplaceRights, false},
  };
  for (const Case& c : cases) {
    const TestAcl acl(c.entries);
    EXPECT_EQ(DaclGrantsUsers(acl.get(), c.rights), c.replaceable) << c.name;
  }
  EXPECT_TRUE(DaclGrantsUsers(nullptr, kFileReplaceRights)) << "a null DACL grants everything to everyone";
}

TEST(ProgramProtection, AProgramWhoseSecurityCannotBeReadCountsAsReplaceable) {
  EXPECT_TRUE(UsersCanReplaceProgram(L"C:\\no such folder\\tarnwick.exe"));
  EXPECT_TRUE(UsersCanReplaceProgram(L"tarnwick.exe"));
}

}  // namespace
}  // namespace tarnwick
