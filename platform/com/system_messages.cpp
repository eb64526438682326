#include "platform/com/hresult.h"

namespace vr::com {

const char16_t* SystemMessage(HRESULT hr) {
  struct Entry { HRESULT hr; const char16_t* text; };
  static const Entry kTable[] = {
      {S_OK, u"The operation completed successfully.\r\n"},
      {E_UNEXPECTED, u"Catastrophic failure\r\n"},
      {E_NOTIMPL, u"Not implemented\r\n"},
      {E_NOINTERFACE, u"No such interface supported\r\n"},
      {E_POINTER, u"Invalid pointer\r\n"},
      {E_ABORT, u"Operation aborted\r\n"},
      {E_FAIL, u"Unspecified error\r\n"},
      {E_ACCESSDENIED, u"Access is denied.\r\n"},
      {E_HANDLE, u"The handle is invalid.\r\n"},
      {E_OUTOFMEMORY, u"Not enough storage is available to complete this operation.\r\n"},
      {E_INVALIDARG, u"The parameter is incorrect.\r\n"},
      {DISP_E_TYPEMISMATCH, u"Type mismatch.\r\n"},
      {DISP_E_BADVARTYPE, u"Bad variable type.\r\n"},
      {DISP_E_OVERFLOW, u"Out of present range.\r\n"},
      {DISP_E_BADINDEX, u"Invalid index.\r\n"},
      {DISP_E_ARRAYISLOCKED, u"Memory is locked.\r\n"},
      {CO_E_NOTINITIALIZED, u"CoInitialize has not been called.\r\n"},
      {RPC_E_CHANGED_MODE, u"Cannot change thread mode after it is set.\r\n"},
      {REGDB_E_CLASSNOTREG, u"Class not registered\r\n"},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), u"The system cannot find the file specified.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
       u"The process cannot access the file because it is being used by another process.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION),
       u"The process cannot access the file because another process has locked a portion of the file.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), u"The file exists.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_DISK_FULL), u"There is not enough space on the disk.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), u"The data area passed to a system call is too small.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_NAME), u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), u"The directory is not empty.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_BUSY), u"The requested resource is in use.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), u"Cannot create a file when that file already exists.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), u"The filename or extension is too long.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_MORE_DATA), u"More data is available.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), u"No more data is available.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_DIRECTORY), u"The directory name is invalid.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_BADDB), u"The configuration registry database is corrupt.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_BADKEY), u"The configuration registry key is invalid.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_CANTOPEN), u"The configuration registry key could not be opened.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_CANTREAD), u"The configuration registry key could not be read.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_CANTWRITE), u"The configuration registry key could not be written.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_KEY_DELETED), u"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), u"Element not found.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_TIMEOUT), u"This operation returned because the timeout period expired.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), u"The data is invalid.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), u"Not enough memory resources are available to process this command.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), u"The system cannot write to the specified device.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_READ_FAULT), u"The system cannot read from the specified device.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), u"A device attached to the system is not functioning.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), u"Reached the end of the file.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), u"The network path was not found.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_CLUSTER_GROUP_NOT_FOUND), u"The cluster group could not be found.\r\n"},
      {HRESULT_FROM_WIN32(ERROR_CLUSTER_NOT_INSTALLED), u"The cluster software is not installed on this node.\r\n"},
  };
  for (const auto& e : kTable)
    if (e.hr == hr) return e.text;
  return u"";
}

}  // namespace vr::com
