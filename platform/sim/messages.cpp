#include "platform/sim/messages.h"

#include <map>

namespace sim {
namespace {

// A small system message table. Like the platform's, some texts carry insert
// sequences, which FormatMessageW refuses to fill without arguments.
const std::map<DWORD, std::wstring>& BuiltInTable() {
  static const std::map<DWORD, std::wstring> table = {
      {0, L"The operation completed successfully.\r\n"},
      {1, L"Incorrect function.\r\n"},
      {2, L"The system cannot find the file specified.\r\n"},
      {3, L"The system cannot find the path specified.\r\n"},
      {5, L"Access is denied.\r\n"},
      {6, L"The handle is invalid.\r\n"},
      {8, L"Not enough storage is available to process this command.\r\n"},
      {14, L"Not enough storage is available to complete this operation.\r\n"},
      {34, L"The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) into drive %1.\r\n"},
      {50, L"The request is not supported.\r\n"},
      {87, L"The parameter is incorrect.\r\n"},
      {122, L"The data area passed to a system call is too small.\r\n"},
      {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {234, L"More data is available.\r\n"},
      {259, L"No more data is available.\r\n"},
      {317, L"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
      {1008, L"An attempt was made to reference a token that does not exist.\r\n"},
      {1009, L"The configuration registry database is corrupt.\r\n"},
      {1010, L"The configuration registry key is invalid.\r\n"},
      {1011, L"The configuration registry key could not be opened.\r\n"},
      {1012, L"The configuration registry key could not be read.\r\n"},
      {1013, L"The configuration registry key could not be written.\r\n"},
      {1018, L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
      {1300, L"Not all privileges referenced are assigned to the caller.\r\n"},
      {1305, L"The revision level is unknown.\r\n"},
      {1307, L"This security ID may not be assigned as the owner of this object.\r\n"},
      {1308, L"This security ID may not be assigned as the primary group of an object.\r\n"},
      {1313, L"A specified privilege does not exist.\r\n"},
      {1314, L"A required privilege is not held by the client.\r\n"},
      {1336, L"The access control list (ACL) structure is invalid.\r\n"},
      {1337, L"The security ID structure is invalid.\r\n"},
      {1338, L"The security descriptor structure is invalid.\r\n"},
      {1344, L"No more memory is available for security information updates.\r\n"},
      {0x80004005, L"Unspecified error\r\n"},
      {0x800401FA, L"This application is only valid for another edition of Windows.\r\n"},
  };
  return table;
}

}  // namespace

std::optional<std::wstring> SystemMessage(const Machine& machine, DWORD id) {
  const auto own = machine.messages.find(id);
  if (own != machine.messages.end()) return own->second;
  const auto& table = BuiltInTable();
  auto found = table.find(id);
  if (found == table.end() && (id & 0xFFFF0000u) == 0x80070000u) found = table.find(id & 0xFFFFu);
  if (found == table.end()) return std::nullopt;
  return found->second;
}

}  // namespace sim
