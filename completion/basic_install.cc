#include "completion/basic_install.h"

#include <windows.h>

#include "completion/complete_install.h"
#include "completion/install_folder.h"
#include "support/errors.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"

int BasicInstall(const HeldFolder& tempDirectory) {
  LogLineA("Do basic install");
  int answer = seams::messageBoxA(
      nullptr,
      "There appeared to be a problem installing. If it didn't install, do "
      "you want to do a basic install?",
      "Basic install", MB_OKCANCEL | MB_ICONQUESTION);
  if (answer != IDOK) return 0;
  // Only this one level: the root of C: is taken to exist.
  DWORD error = PrepareInstallFolder();
  if (error != 0) {
    ReportErrorCode(L"Error creating directory %s %d", kFixedInstallFolder,
                    static_cast<int>(error));
    return 0;
  }
  CopyApplicationFile(tempDirectory, kFixedInstallFolder, kApplicationName);
  LogLineA("Completed basic install");
  return 1;
}

int CopyApplicationFile(const HeldFolder& source,
                        const wchar_t* destinationFolder, const wchar_t* name) {
  wchar_t destination[MAX_PATH];
  JoinPath(destination, MAX_PATH, destinationFolder, name);
  DWORD error = CopyIntoInstallFolder(source, name);
  if (error != 0) {
    return ReportErrorCode(L"Error copying application %s %d", destination,
                           static_cast<int>(error));
  }
  return 1;
}
