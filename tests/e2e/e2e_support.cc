#include "tests/e2e/e2e_support.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <tlhelp32.h>

#include "support/file_util.h"

namespace {

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(line);
  for (std::string part; std::getline(stream, part, separator);) {
    parts.push_back(part);
  }
  return parts;
}

std::vector<std::string> Lines(const std::wstring& path) {
  std::vector<std::string> lines;
  for (const std::string& line : Split(ReadBytes(path), '\n')) {
    if (!line.empty()) lines.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
  }
  return lines;
}

// Records escape % and control characters as %XX.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

// What the run starts as the signed-in user is the desktop shell's child,
// outside the robot's job: the stand-ins still running are waited for here
// (at most fifteen seconds), so that their records are complete.
void AwaitStandins() {
  for (int i = 0; i < 300; ++i) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry)) {
      for (const wchar_t* name : {L"Launcher.exe", L"Talvorn Server.exe",
                                  L"Uninstall.exe", L"InstallTalvorn.exe"}) {
        running = running || lstrcmpiW(entry.szExeFile, name) == 0;
      }
    }
    CloseHandle(snapshot);
    if (!running) return;
    Sleep(50);
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "{" << box.caption << " | " << box.text << " | " << box.buttons
             << " | " << box.icon << "}";
}

std::vector<Record> Outcome::Events(const std::string& program,
                                const std::string& event) const {
  std::vector<Record> found;
  for (const Record& record : records) {
    if (record.at("prog") == program && record.at("event") == event) {
      found.push_back(record);
    }
  }
  return found;
}

void EndToEndTest::SetUp() {
  KeepWineDesktop();
  ClearInstallLocations();
  folder = scratch / L"run";
  CreateDirectoryW(folder.c_str(), nullptr);
}

void EndToEndTest::TearDown() {
  if (HasFailure()) {
    for (const std::string& line : lastRun_) printf("  run: %s\n", line.c_str());
  }
  ClearInstallLocations();
}

std::wstring EndToEndTest::TestkitFile(const std::wstring& name) {
  return ProgramFolder() + L"\\..\\testkit\\" + name;
}

Box EndToEndTest::Complete() {
  return {"Complete", "Do you wish to launch the application now?", "OK,Cancel",
          "question"};
}

Box EndToEndTest::BasicInstall() {
  return {"Basic install",
          "There appeared to be a problem installing. If it didn't install, do "
          "you want to do a basic install?",
          "OK,Cancel", "question"};
}

Box EndToEndTest::NoHandOff() const {
  return {"Error",
          "Could not open file \"" + Narrow(folder) + "\\tmp-1\\InstalledApp.txt\"",
          "OK", "error"};
}

Outcome EndToEndTest::Start(const Scenario& scenario) {
  std::wstring exe = folder + L"\\TalvornSetup.exe";
  CopyFileW((ProgramFolder() + L"\\" + scenario.extractor).c_str(), exe.c_str(), FALSE);
  std::wstring boxFile = scratch / L"boxes.txt";
  std::wstring recordFile = RecordFile();
  std::wstring kept = scratch / L"log-kept.txt";
  for (const std::wstring& old : {boxFile, recordFile, kept}) DeleteFileW(old.c_str());
  std::wstring command = Quote(TestkitFile(L"robot.exe")) + L" --record " +
                         Quote(boxFile) + L" --timeout-ms " +
                         std::to_wstring(scenario.timeoutMs) + L" --wait-tree";
  if (scenario.againAfterMs >= 0) {
    command += L" --again-after-ms " + std::to_wstring(scenario.againAfterMs);
  }
  for (const std::string& answer : scenario.answers) {
    command += L" --answer " + Quote(Widen(answer));
  }
  std::wstring start = scenario.via.empty() ? folder : scenario.via;
  command += L" -- " + Quote(start + L"\\TalvornSetup.exe");

  std::map<std::wstring, std::wstring> environment = scenario.environment;
  environment[L"TALVORN_SETUP_SCRIPT"] = Widen(scenario.script);
  environment[L"TALVORN_RECORD_FILE"] = recordFile;
  for (const auto& [name, value] : environment) {
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

  // The extractor deletes its log at the end of a clean run; a hard link made
  // as soon as it appears keeps every line for the test.
  std::wstring log = folder + L"\\TLExtractorLog.txt";
  std::atomic<bool> done{false};
  std::thread keeper([&] {
    while (!done && !CreateHardLinkW(kept.c_str(), log.c_str(), nullptr)) Sleep(2);
  });

  Outcome run;
  PROCESS_INFORMATION process = {};
  bool started = StartProcess(command, start.c_str(), &process);
  if (started) {
    WaitForSingleObject(process.hProcess, scenario.timeoutMs + 30000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  } else {
    ADD_FAILURE() << "cannot start the robot";
  }
  AwaitStandins();
  done = true;
  keeper.join();
  for (const auto& entry : environment) {
    SetEnvironmentVariableW(entry.first.c_str(), nullptr);
  }

  for (const std::string& line : Lines(boxFile)) {
    std::vector<std::string> fields = Split(line, '\t');
    if (fields[0] == "#seen" && fields.size() > 1) run.seen.push_back(fields[1]);
    if (fields[0] == "#exit-again" && fields.size() > 1) {
      run.againExitCode = std::stoi(fields[1]);
    }
    if (fields[0].empty() || fields[0][0] == '#') continue;
    fields.resize(5);
    run.boxes.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
  }
  lastRun_.clear();
  for (const std::string& line : Lines(recordFile)) {
    lastRun_.push_back("record " + line);
    Record record;
    for (const std::string& field : Split(line, '\t')) {
      size_t equals = field.find('=');
      if (equals != std::string::npos) {
        record[field.substr(0, equals)] = Unescape(field.substr(equals + 1));
      }
    }
    run.records.push_back(record);
  }
  run.log = ReadLogLines(kept);
  for (const std::wstring& line : run.log) lastRun_.push_back("log " + Narrow(line));
  run.logLeft = PathExists(log);
  run.tmpLeft = PathExists(folder + L"\\tmp-1");
  return run;
}
