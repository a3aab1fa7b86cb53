// The private folder's access list, and the decision whether an existing
// folder of that name is ours: plain inputs, read by private_folder.cpp from
// the folder it holds open.
#include <windows.h>
#include <sddl.h>

#include "support/private_folder.h"

namespace tw {
namespace {

constexpr wchar_t kPrivateFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Every right that lets a holder put, change or remove something in the
// folder or in what it inherits, or change who may.
constexpr ACCESS_MASK kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                     FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL | MAXIMUM_ALLOWED;

bool IsTrustedWriter(PSID sid, PSID expectedOwner) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         EqualSid(sid, expectedOwner);
}

}  // namespace

bool IsTrustedPrivateFolder(const FolderFacts& facts) {
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  if (facts.owner == nullptr || facts.expectedOwner == nullptr || !IsTrustedWriter(facts.owner, facts.expectedOwner)) {
    return false;
  }
  if (facts.dacl == nullptr) return false;  // no access list: everybody may do everything
  PACL dacl = const_cast<PACL>(facts.dacl);
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) return false;
    switch (static_cast<const ACE_HEADER*>(ace)->AceType) {
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        break;  // takes rights away only
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {  // the same layout up to the SID
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kWriteRights) != 0 && !IsTrustedWriter(&allowed->SidStart, facts.expectedOwner)) {
          return false;
        }
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

UniqueLocalMemory<void> MakePrivateFolderSecurity() {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1, &security,
                                                            nullptr)) {
    return UniqueLocalMemory<void>();
  }
  return UniqueLocalMemory<void>(security);
}

}  // namespace tw
