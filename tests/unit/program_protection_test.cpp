// Which owners, access lists and folders let anyone but an administrator
// replace the program that the logon task runs elevated.
#include "install/program_protection.h"

#include "platform/unique_handle.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr const wchar_t* kAdministrators = L"S-1-5-32-544";
constexpr const wchar_t* kSystem = L"S-1-5-18";
constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const wchar_t* kUsers = L"S-1-5-32-545";
constexpr const wchar_t* kOneUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const wchar_t* kDomainUsers = L"S-1-5-21-1004336348-1177238915-682003330-513";
constexpr DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

struct Entry {
  const wchar_t* who;
  DWORD mask;
  BYTE flags = 0;
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
};

class Sid {
 public:
  explicit Sid(const wchar_t* text) { EXPECT_TRUE(::ConvertStringSidToSidW(text, sid_.put())) << text; }
  [[nodiscard]] PSID get() const { return sid_.get(); }

 private:
  unique_hlocal sid_;
};

// An access list built with the system's own calls.
class TestAcl {
 public:
  explicit TestAcl(const std::vector<Entry>& entries) : memory_(2048) {
    auto* acl = reinterpret_cast<ACL*>(memory_.data());
    EXPECT_TRUE(::InitializeAcl(acl, static_cast<DWORD>(memory_.size()), ACL_REVISION_DS));
    for (const Entry& entry : entries) {
      const Sid sid(entry.who);
      switch (entry.type) {
        case ACCESS_DENIED_ACE_TYPE:
          EXPECT_TRUE(::AddAccessDeniedAceEx(acl, ACL_REVISION_DS, entry.flags, entry.mask, sid.get()));
          break;
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE: {
          // No object types: the SID follows the flags (Wine lacks AddAccessAllowedObjectAce).
          const DWORD sidSize = ::GetLengthSid(sid.get());
          std::vector<BYTE> ace(offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType) + sidSize);
          auto* object = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(ace.data());
          object->Header = {ACCESS_ALLOWED_OBJECT_ACE_TYPE, entry.flags, static_cast<WORD>(ace.size())};
          object->Mask = entry.mask;
          object->Flags = 0;
          ::CopySid(sidSize, ace.data() + offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType), sid.get());
          EXPECT_TRUE(::AddAce(acl, ACL_REVISION_DS, MAXDWORD, ace.data(), static_cast<DWORD>(ace.size())));
          break;
        }
        default:
          EXPECT_TRUE(::AddAccessAllowedAceEx(acl, ACL_REVISION_DS, entry.flags, entry.mask, sid.get()));
      }
    }
  }
  [[nodiscard]] const ACL* get() const { return reinterpret_cast<const ACL*>(memory_.data()); }

 private:
  std::vector<BYTE> memory_;
};

TEST(ProgramProtection, OnlyAdministratorsSystemAndTrustedInstallerMayChangeTheProgram) {
  // What a Program Files folder holds, and what each case adds to it.
  const std::vector<Entry> protectedEntries = {{kAdministrators, FILE_ALL_ACCESS},
                                               {kSystem, GENERIC_ALL},
                                               {kTrustedInstaller, FILE_ALL_ACCESS},
                                               {kUsers, kReadExecute},
                                               {L"S-1-3-0", GENERIC_ALL, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE}};
  struct Case {
    const char* name;
    const wchar_t* owner;
    std::vector<Entry> extra;
    DWORD rights;
    bool changeable;
  };
  const std::vector<Case> cases = {
      {"administrators own it", kAdministrators, {}, kFolderReplaceRights, false},
      {"system owns it", kSystem, {}, kFileReplaceRights, false},
      {"TrustedInstaller owns it", kTrustedInstaller, {}, kFileReplaceRights, false},
      {"one ordinary user owns it", kOneUser, {}, kFileReplaceRights, true},
      {"users own it", kUsers, {}, kFileReplaceRights, true},
      {"one ordinary user has full control", kAdministrators, {{kOneUser, FILE_ALL_ACCESS}}, kFileReplaceRights, true},
      {"guests may write", kAdministrators, {{L"S-1-5-32-546", FILE_WRITE_DATA}}, kFileReplaceRights, true},
      {"LOCAL may delete", kAdministrators, {{L"S-1-2-0", DELETE}}, kFileReplaceRights, true},
      {"all application packages may change the permissions",
       kAdministrators,
       {{L"S-1-15-2-1", WRITE_DAC}},
       kFileReplaceRights,
       true},
      {"a domain group may take ownership", kAdministrators, {{kDomainUsers, WRITE_OWNER}}, kFileReplaceRights, true},
      {"everyone holds generic write", kAdministrators, {{L"S-1-1-0", GENERIC_WRITE}}, kFileReplaceRights, true},
      {"authenticated users may add files",
       kAdministrators,
       {{L"S-1-5-11", FILE_ADD_FILE}},
       kFolderReplaceRights,
       true},
      {"interactive users may delete children",
       kAdministrators,
       {{L"S-1-5-4", FILE_DELETE_CHILD}},
       kFolderReplaceRights,
       true},
      {"creator owner's grant applies to the object",
       kAdministrators,
       {{L"S-1-3-0", GENERIC_ALL}},
       kFileReplaceRights,
       true},
      {"an object entry is not trusted whoever it names",
       kAdministrators,
       {{kAdministrators, WRITE_DAC, 0, ACCESS_ALLOWED_OBJECT_ACE_TYPE}},
       kFileReplaceRights,
       true},
      {"users may only add subfolders",
       kAdministrators,
       {{kUsers, FILE_ADD_SUBDIRECTORY | kReadExecute}},
       kFolderReplaceRights,
       false},
      {"an inherit-only grant is for the children",
       kAdministrators,
       {{kOneUser, GENERIC_ALL, INHERIT_ONLY_ACE | CONTAINER_INHERIT_ACE}},
       kFolderReplaceRights,
       false},
      {"a denial is not needed and changes nothing",
       kAdministrators,
       {{kUsers, FILE_ALL_ACCESS, 0, ACCESS_DENIED_ACE_TYPE}},
       kFileReplaceRights,
       false},
      {"a deny entry does not cancel a grant",
       kAdministrators,
       {{kUsers, DELETE, 0, ACCESS_DENIED_ACE_TYPE}, {kUsers, FILE_WRITE_DATA}},
       kFileReplaceRights,
       true},
  };
  for (const Case& c : cases) {
    std::vector<Entry> entries = protectedEntries;
    entries.insert(entries.end(), c.extra.begin(), c.extra.end());
    const TestAcl acl(entries);
    const Sid owner(c.owner);
    EXPECT_EQ(OthersCanChange(owner.get(), acl.get(), c.rights), c.changeable) << c.name;
  }
  const Sid administrators(kAdministrators);
  EXPECT_TRUE(OthersCanChange(administrators.get(), nullptr, kFileReplaceRights))
      << "a null access list grants everything to everyone";
  EXPECT_TRUE(OthersCanChange(nullptr, TestAcl({}).get(), kFileReplaceRights)) << "no owner";
}

TEST(ProgramProtection, EveryFolderUpToTheRootIsLookedAt) {
  using Folders = std::vector<std::wstring>;
  EXPECT_EQ(ContainingFolders(L"C:\\Program Files\\Tarnwick\\tarnwick.exe"),
            (Folders{L"C:\\Program Files\\Tarnwick", L"C:\\Program Files", L"C:\\"}));
  EXPECT_EQ(ContainingFolders(L"C:\\tarnwick.exe"), (Folders{L"C:\\"}));
  EXPECT_EQ(ContainingFolders(L"\\\\?\\D:\\apps\\tarnwick.exe"), (Folders{L"\\\\?\\D:\\apps", L"\\\\?\\D:\\"}));
  EXPECT_EQ(ContainingFolders(L"\\\\server\\share\\apps\\tarnwick.exe"),
            (Folders{L"\\\\server\\share\\apps", L"\\\\server\\share"}));
  EXPECT_TRUE(ContainingFolders(L"tarnwick.exe").empty());
  EXPECT_TRUE(ContainingFolders(L"\\\\server").empty());
}

TEST(ProgramProtection, TheProgramAndEveryFolderAboveItMustBeSafe) {
  const std::wstring program = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";
  const std::vector<std::wstring> objects = {program, L"C:\\Program Files\\Tarnwick", L"C:\\Program Files", L"C:\\"};
  // Each object in turn is the one that others could change.
  for (const std::wstring& openObject : objects) {
    const bool replaceable =
        OthersCanReplaceProgram(program, [&](const std::wstring& path, DWORD) { return path == openObject; });
    EXPECT_TRUE(replaceable) << std::string(openObject.begin(), openObject.end());
  }
  std::vector<std::pair<std::wstring, DWORD>> asked;
  EXPECT_FALSE(OthersCanReplaceProgram(program, [&](const std::wstring& path, DWORD rights) {
    asked.emplace_back(path, rights);
    return false;
  }));
  const std::vector<std::pair<std::wstring, DWORD>> expected = {{objects[0], kFileReplaceRights},
                                                                {objects[1], kFolderReplaceRights},
                                                                {objects[2], kFolderReplaceRights},
                                                                {objects[3], kFolderReplaceRights}};
  EXPECT_EQ(asked, expected) << "the program with a file's rights, each folder with a folder's";
}

// Wine keeps no owner or access list that a program sets on a file: every
// file there belongs to the user and grants the user full control, which is
// what the check must call replaceable.
TEST(ProgramProtection, AProgramOfTheUserOrWhoseSecurityCannotBeReadCountsAsReplaceable) {
  EXPECT_TRUE(OthersCanReplaceProgram(L"C:\\no such folder\\tarnwick.exe"));
  EXPECT_TRUE(OthersCanReplaceProgram(L"tarnwick.exe"));
  wchar_t self[MAX_PATH] = {};
  ASSERT_NE(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  EXPECT_TRUE(OthersCanReplaceProgram(self));
}

}  // namespace
}  // namespace tarnwick
