#pragma once
// The setup stand-in's script and the file and registry work of its steps.

#include <string>
#include <vector>

#include "record.h"

namespace setup {

struct Step {
  std::wstring name;
  std::wstring arg;  // text after the first '=', empty when none
};

// Splits "name[=arg],name[=arg],..." and expands the "install" macro. False,
// with the offending step in *error, for an unknown step name.
bool ParseScript(const std::wstring& text, std::vector<Step>* steps,
                 std::wstring* error);

// The three double-quoted Base64 fields of the command line, decoded and
// recorded as event=start (format=ok|bad, arg1..arg3).
void RecordStart();

std::wstring InstallFolder();  // without a trailing backslash

// Each of these adds what it did to the step's record and carries on
// whatever happens.
void CopyProduct(kit::Record& record);
void WriteInstPath(kit::Record& record);
void WriteHandoff(const std::wstring& format, kit::Record& record);
void CreateCancelMarker(kit::Record& record);
void HoldFile(const std::wstring& name, kit::Record& record);
void ReleaseFiles(kit::Record& record);
// Moves name from the setup program's own folder into the install folder.
void MoveIntoInstallFolder(const std::wstring& name, kit::Record& record);

}  // namespace setup
