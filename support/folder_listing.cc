#include "support/folder_listing.h"

bool NextInFolder(const HeldFolder& folder, FolderListing* listing,
                  ListedEntry* entry) {
  for (;;) {
    if (listing->next == 0) {
      // The first read starts the listing afresh, the later ones go on.
      FILE_INFO_BY_HANDLE_CLASS kind = listing->started
                                           ? FileIdBothDirectoryInfo
                                           : FileIdBothDirectoryRestartInfo;
      listing->started = true;
      if (!GetFileInformationByHandleEx(folder.handle, kind, listing->buffer,
                                        sizeof listing->buffer)) {
        return false;
      }
    }
    auto* record = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(listing->buffer +
                                                             listing->next);
    listing->next = record->NextEntryOffset == 0
                        ? 0
                        : listing->next + record->NextEntryOffset;
    DWORD length = record->FileNameLength / sizeof(wchar_t);
    const wchar_t* name = record->FileName;
    bool self = name[0] == L'.' &&
                (length == 1 || (length == 2 && name[1] == L'.'));
    if (self || length >= kHeldPathSize) continue;
    CopyMemory(entry->name, name, length * sizeof(wchar_t));
    entry->name[length] = 0;
    entry->attributes = record->FileAttributes;
    // For a reparse point the file system gives its tag where the size of the
    // extended attributes would be (MS-FSCC 2.4.17).
    entry->tag = (record->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                     ? record->EaSize
                     : 0;
    return true;
  }
}
