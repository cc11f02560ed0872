// End-to-end runs: a built extractor copied into a fresh folder and started
// by the answering robot (testkit/robot.exe), which clicks its message boxes
// the way a person would and records each one. The stand-in setup program is
// steered by TALVORN_SETUP_SCRIPT, which the extractor passes on to it. The
// robot waits for every program the run started, so records are complete.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"

struct Box {
  std::string caption, text, buttons, icon, answer;
  bool operator==(const Box& other) const {
    return caption == other.caption && text == other.text &&
           buttons == other.buttons && icon == other.icon;
  }
};
std::ostream& operator<<(std::ostream& out, const Box& box);

// One stand-in event: prog=..., event=..., and the rest of its fields.
using Record = std::map<std::string, std::string>;

struct Outcome {
  DWORD exitCode = 0;
  int againExitCode = -1;          // the second copy's, when one was started
  std::vector<Box> boxes;
  std::vector<std::string> seen;   // window titles the robot saw appear
  std::vector<Record> records;     // what the stand-in programs did
  std::vector<std::wstring> log;   // every line, even when the log was deleted
  bool logLeft = false;            // the log file still exists afterwards
  bool tmpLeft = false;            // tmp-1 still exists afterwards
  // The records of one program and event, in order.
  std::vector<Record> Events(const std::string& program,
                             const std::string& event) const;
};

struct Scenario {
  std::wstring extractor = L"e2e_demo.exe";  // a build output beside the tests
  std::string script;                        // TALVORN_SETUP_SCRIPT
  std::vector<std::string> answers;          // "Caption=OK" or "Caption=Cancel"
  std::map<std::wstring, std::wstring> environment;
  DWORD timeoutMs = 60000;
  int againAfterMs = -1;  // >= 0: a second copy is started this much later
  // Not empty: a link to the run's folder, through which the extractor is
  // started (and which is its current directory).
  std::wstring via;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Outcome Start(const Scenario& scenario);
  static std::wstring TestkitFile(const std::wstring& name);
  // The extractor's questions, and the box for the missing hand-off file.
  static Box Complete();
  static Box BasicInstall();
  Box NoHandOff() const;
  ScratchFolder scratch;
  std::wstring folder;  // where the extractor runs
  // The stand-ins' records, written while a run goes on.
  std::wstring RecordFile() const { return scratch / L"records.txt"; }

 private:
  // The last run's log and records, printed when the test fails: a run that
  // went wrong only on another machine is then read from its output.
  std::vector<std::string> lastRun_;
};
