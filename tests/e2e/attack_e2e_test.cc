// Whole runs with another program of the same machine working against the
// elevated extractor: a link above the extractor re-pointed while it runs, a
// log name planted as a link, tmp-1's name taken once it could not be made,
// and a fixed install folder prepared beforehand. Each run ends as a normal
// one would or stops, and nothing the other program put anywhere is written,
// loaded or started.
#include "tests/e2e/e2e_support.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include <shlobj.h>

#include "support/file_entry.h"
#include "support/file_util.h"

namespace {

// Re-points a link to another target from a thread of its own, as soon as
// ready() says so, until stopped.
class Repointer {
 public:
  Repointer(std::wstring link, std::wstring target, std::function<bool()> ready)
      : thread_([this, link, target, ready] {
          while (!stop_ && !repointed_) {
            if (ready()) repointed_ = MakeUnixLink(link, target);
            Sleep(1);
          }
        }) {}
  // Stops it, and says whether the link was re-pointed.
  bool Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return repointed_;
  }
  ~Repointer() { Stop(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> repointed_{false};
  std::thread thread_;
};

// A tmpfs of few inodes mounted over a folder while alive. What the folder
// held is hidden meanwhile, which tells when the host's mount and unmount are
// done; refusedMark is made where no mount is allowed.
class SmallVolume {
 public:
  SmallVolume(const std::wstring& at, const std::wstring& refusedMark)
      : unix_(UnixName(at)), underneath_(at + L"\\underneath") {
    WriteBytes(underneath_, "");
    mounted_ = !unix_.empty() &&
               RunHostCommand(L"/bin/sh -c \"/bin/mount -t tmpfs -o size=64m,nr_inodes=32 "
                              L"tmpfs '" + unix_ + L"' || : >'" + UnixName(refusedMark) +
                              L"'\"",
                              [&] {
                                return !PathExists(underneath_) || PathExists(refusedMark);
                              }) &&
               !PathExists(underneath_);
  }
  ~SmallVolume() {
    if (!mounted_) return;
    RunHostCommand(L"/bin/sh -c \"/bin/umount '" + unix_ + L"' || /bin/umount -l '" +
                       unix_ + L"'\"",
                   [&] { return PathExists(underneath_); });
  }
  bool mounted() const { return mounted_; }

 private:
  std::wstring unix_, underneath_;
  bool mounted_ = false;
};

class AttackEndToEndTest : public EndToEndTest {
 protected:
  // Started programs whose path leads into one of the other program's
  // places.
  static int StartedFrom(const Outcome& run, const std::wstring& place) {
    int count = 0;
    for (const Record& record : run.records) {
      if (record.at("event") == "start" &&
          record.at("module").find(Narrow(place)) != std::string::npos) {
        ++count;
      }
    }
    return count;
  }
};

// What the other program has ready: its own tmp-1 (a setup program, a zlib1.dll
// that marks its loading, a hand-off naming its own program) and a file under
// the log's name, in a folder to which it re-points the link the extractor
// was started through, at the moment the run's own log or records show.
struct Repointing {
  const char* moment;
  std::function<bool(const std::vector<std::wstring>& log, const std::string& records)> when;
};

void PrintTo(const Repointing& repointing, std::ostream* out) {
  *out << repointing.moment;
}

class RepointedLinkEndToEndTest : public AttackEndToEndTest,
                                  public ::testing::WithParamInterface<Repointing> {};

TEST_P(RepointedLinkEndToEndTest, RedirectsNothing) {
  std::wstring attacker = scratch / L"attacker";
  std::wstring evil = scratch / L"evil";
  for (const std::wstring& made : {attacker, attacker + L"\\tmp-1", evil}) {
    CreateDirectoryW(made.c_str(), nullptr);
  }
  std::wstring theirs = attacker + L"\\tmp-1\\";
  CopyFileW(TestkitFile(L"Uninstall.exe").c_str(), (theirs + L"InstallTalvorn.exe").c_str(),
            FALSE);
  CopyFileW((ProgramFolder() + L"\\marker_dll.dll").c_str(), (theirs + L"zlib1.dll").c_str(),
            FALSE);
  CopyFileW(TestkitFile(L"Talvorn Server.exe").c_str(),
            (evil + L"\\Talvorn Server.exe").c_str(), FALSE);
  std::wstring named = evil + L"\\Talvorn Server.exe";
  WriteBytes(theirs + L"InstalledApp.txt",
             std::string(reinterpret_cast<const char*>(named.data()), named.size() * 2));
  WriteBytes(attacker + L"\\TLExtractorLog.txt", "theirs");

  std::wstring via = scratch / L"via";
  ASSERT_TRUE(MakeUnixLink(via, folder));
  Repointer repointer(via, attacker, [&] {
    return GetParam().when(ReadLogLines(folder + L"\\TLExtractorLog.txt"),
                           ReadBytes(RecordFile()));
  });
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.via = via;
  Outcome run = Start(scenario);
  EXPECT_TRUE(repointer.Stop());
  RemoveUnixLink(via);

  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  EXPECT_EQ(0, StartedFrom(run, attacker));
  EXPECT_EQ(0, StartedFrom(run, evil));
  std::vector<Record> setup = run.Events("InstallTalvorn.exe", "start");
  ASSERT_EQ(1u, setup.size());
  EXPECT_EQ(Narrow(folder) + "\\tmp-1\\InstallTalvorn.exe", setup[0]["module"]);
  EXPECT_EQ(1u, run.Events("Launcher.exe", "start").size());
  EXPECT_FALSE(PathExists(theirs + L"zlib1.dll.loaded"));
  EXPECT_EQ("theirs", ReadBytes(attacker + L"\\TLExtractorLog.txt"));
  EXPECT_FALSE(run.tmpLeft);
  EXPECT_FALSE(run.logLeft);
  // From tmp-1 on, the run goes by where it lies, not by the link.
  EXPECT_EQ(L"ExtractFiles destDir=" + folder + L"\\tmp-1", run.log[4]);
}

bool UnpackedPast(const std::vector<std::wstring>& log, const std::wstring& name) {
  for (size_t i = 0; i + 1 < log.size(); ++i) {
    if (log[i].find(L"Unarchiving file") != std::wstring::npos &&
        log[i].find(L"\\" + name + L"\"") != std::wstring::npos) {
      return true;
    }
  }
  return false;
}

INSTANTIATE_TEST_SUITE_P(
    Moments, RepointedLinkEndToEndTest,
    ::testing::Values(
        // Before the log and tmp-1 are made: the folder is held from the start.
        Repointing{"WhenTheStatusDialogShows",
                   [](const std::vector<std::wstring>&, const std::string&) {
                     return FindWindowW(nullptr, L"Status") != nullptr;
                   }},
        Repointing{"AfterZlibWasWritten",
                   [](const std::vector<std::wstring>& log, const std::string&) {
                     return UnpackedPast(log, L"zlib1.dll");
                   }},
        Repointing{"AfterTheSetupProgramWasUnpacked",
                   [](const std::vector<std::wstring>& log, const std::string&) {
                     return UnpackedPast(log, L"InstallTalvorn.exe");
                   }},
        Repointing{"AfterTheHandOff",
                   [](const std::vector<std::wstring>&, const std::string& records) {
                     return records.find("event=handoff") != std::string::npos;
                   }}),
    [](const ::testing::TestParamInfo<Repointing>& info) {
      return std::string(info.param.moment);
    });

// The extractor lies in a real folder too deep for its place to be read
// into the run's buffers, and is started through a short link, which the
// other program re-points as soon as the log appears. The run may go on only
// by names read from what it holds: zlib1.dll's own place does not fit, so
// nothing is loaded, by that name or the link's, and the run stops there,
// having loaded, started and deleted nothing of the other program's.
TEST_F(AttackEndToEndTest, ADeepFolderReachedThroughARepointedLinkLoadsNothingElse) {
  std::wstring deep = folder;
  for (int i = 0; i < 3; ++i) {
    deep += L"\\" + std::wstring(80, static_cast<wchar_t>(L'a' + i));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  std::wstring attacker = scratch / L"attacker";
  std::wstring theirs = attacker + L"\\tmp-1\\";
  for (const std::wstring& made : {attacker, attacker + L"\\tmp-1"}) {
    CreateDirectoryW(made.c_str(), nullptr);
  }
  CopyFileW(TestkitFile(L"Uninstall.exe").c_str(), (theirs + L"InstallTalvorn.exe").c_str(),
            FALSE);
  CopyFileW((ProgramFolder() + L"\\marker_dll.dll").c_str(), (theirs + L"zlib1.dll").c_str(),
            FALSE);
  WriteBytes(attacker + L"\\TLExtractorLog.txt", "theirs");
  std::wstring via = scratch / L"via";
  ASSERT_TRUE(MakeUnixLink(via, deep));
  std::wstring realFolder = folder;
  folder = L"\\\\?\\" + deep;  // where the harness puts the exe and reads the log
  Repointer repointer(via, attacker, [&] {
    return !ReadLogLines(folder + L"\\TLExtractorLog.txt").empty();
  });
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.via = via;
  Outcome run = Start(scenario);
  EXPECT_TRUE(repointer.Stop());
  RemoveUnixLink(via);
  EXPECT_FALSE(PathExists(theirs + L"zlib1.dll.loaded"));
  EXPECT_EQ(0, StartedFrom(run, attacker));
  EXPECT_TRUE(run.Events("InstallTalvorn.exe", "start").empty());
  EXPECT_EQ("theirs", ReadBytes(attacker + L"\\TLExtractorLog.txt"));
  EXPECT_TRUE(PathExists(theirs + L"InstallTalvorn.exe"));
  ASSERT_FALSE(run.boxes.empty());
  EXPECT_EQ("No zip 100", run.boxes[0].text);
  folder = realFolder;
  RemoveTree(L"\\\\?\\" + deep.substr(0, folder.size() + 81));
}

// A link planted under the log's name: the file it points at stays. Wine
// cannot open such a link as itself, so the log cannot be made, which is
// reported; the run goes on.
TEST_F(AttackEndToEndTest, ALogNamePlantedAsALinkLeavesItsTargetAlone) {
  std::wstring precious = scratch / L"precious.txt";
  WriteBytes(precious, "precious");
  ASSERT_TRUE(MakeUnixLink(folder + L"\\TLExtractorLog.txt", precious));
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}});
  EXPECT_EQ((std::vector<Box>{{"Error",
                               "Error creating log file " + Narrow(folder) +
                                   "\\TLExtractorLog.txt 80",
                               "OK", "error"},
                              Complete()}),
            run.boxes);
  EXPECT_EQ(1u, run.Events("Launcher.exe", "start").size());
  EXPECT_EQ("precious", ReadBytes(precious));
  EXPECT_FALSE(run.tmpLeft);
  RemoveUnixLink(folder + L"\\TLExtractorLog.txt");
}

// tmp-1 cannot be made beside the extractor: its folder's volume has no inode
// left. As soon as the log goes past the extractor's path (tmp-1 was tried),
// the other program frees inodes and takes the name with a link to a folder
// of its own. Nothing is unpacked by name: the run goes to the protected
// folder, which Wine, keeping no descriptors, never lets pass, so it stops
// there, and nothing of the other program's is loaded, started or written.
TEST_F(AttackEndToEndTest, ATmpNameTakenOnceItCouldNotBeMadeGetsNothing) {
  ScratchFolder other;
  std::wstring theirs = other / L"theirs";
  CreateDirectoryW(theirs.c_str(), nullptr);
  CopyFileW(TestkitFile(L"Uninstall.exe").c_str(), (theirs + L"\\InstallTalvorn.exe").c_str(),
            FALSE);
  CopyFileW((ProgramFolder() + L"\\marker_dll.dll").c_str(),
            (theirs + L"\\zlib1.dll").c_str(), FALSE);
  WriteBytes(theirs + L"\\Licence.txt", "theirs");
  auto listing = [&] {
    std::map<std::wstring, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(theirs)) {
      files[entry.path().filename().wstring()] = ReadBytes(entry.path().wstring());
    }
    return files;
  };
  const std::map<std::wstring, std::string> before = listing();

  // The whole scratch folder, so that the log's hard link can be made.
  SmallVolume volume(scratch.path(), other / L"refused");
  if (!volume.mounted()) {
    GTEST_SKIP() << "no tmpfs can be mounted here: it needs root with CAP_SYS_ADMIN";
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  HANDLE held = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool tried = VolumeIsLocalWithAcls(held);  // else tmp-1 is never tried beside it
  CloseHandle(held);
  ASSERT_TRUE(tried);
  std::vector<std::wstring> fillers;
  for (int i = 0; i < 100; ++i) {
    std::wstring filler = scratch / (L"filler-" + std::to_wstring(i));
    HANDLE made = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                              nullptr);
    if (made == INVALID_HANDLE_VALUE) break;
    CloseHandle(made);
    fillers.push_back(filler);
  }
  // Room for the exe, the robot's boxes and the log; none for tmp-1.
  ASSERT_GT(fillers.size(), 3u);
  for (int i = 0; i < 3; ++i, fillers.pop_back()) DeleteFileW(fillers.back().c_str());

  Repointer taker(folder + L"\\tmp-1", theirs, [&] {
    if (ReadLogLines(folder + L"\\TLExtractorLog.txt").size() <= 3) return false;
    for (const std::wstring& filler : fillers) DeleteFileW(filler.c_str());
    return true;
  });
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}});
  EXPECT_TRUE(taker.Stop());

  EXPECT_EQ((std::vector<Box>{{"Error", "Can't create tmp directory Error=-1", "OK", "none"}}),
            run.boxes);
  EXPECT_TRUE(run.records.empty());  // nothing started
  EXPECT_EQ(before, listing());      // no zlib1.dll.loaded either
  wchar_t data[kFolderPathSize];
  ASSERT_TRUE(GetSpecialFolder(data, CSIDL_COMMON_APPDATA));
  ASSERT_LE(3u, run.log.size());
  EXPECT_EQ((std::vector<std::wstring>{
                L"Protected folder " + std::wstring(data) +
                    L"Talvorn Extractor is not used: others can move or re-permission "
                    L"what is in a folder above it",
                L"Can't create tmp directory Error=-1"}),
            std::vector<std::wstring>(run.log.begin() + 3, run.log.end()));
}

// C:\Talvorn made beforehand by someone else: as a link to a folder of
// theirs holding an application and a launcher, completion finds no installed
// application there (nothing of theirs is started or deleted) and nothing is
// written through it; as a folder of theirs holding the same, the launch is
// offered, but what they planted never starts elevated: it starts as the
// signed-in user, as their own double click would start it.
TEST_F(AttackEndToEndTest, AFixedFolderPreparedBeforehandStartsNothingElevated) {
  std::wstring elsewhere = scratch / L"elsewhere";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  CopyFileW(TestkitFile(L"Launcher.exe").c_str(), (elsewhere + L"\\Launcher.exe").c_str(),
            FALSE);
  CopyFileW(TestkitFile(L"Talvorn Server.exe").c_str(),
            (elsewhere + L"\\Talvorn Server.exe").c_str(), FALSE);
  ASSERT_TRUE(MakeUnixLink(L"C:\\Talvorn", elsewhere));
  // Seen installing, with no hand-off: completion reaches the fixed folder
  // first, then the basic install is offered.
  Outcome linked = Start({L"e2e_demo.exe", "show,wait=300,installing,wait=400",
                          {"Basic install=OK", "Complete=OK"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), BasicInstall(),
                              {"Error", "Error creating directory C:\\Talvorn\\ 4395",
                               "OK", "error"}}),
            linked.boxes);
  EXPECT_EQ(0u, linked.Events("Launcher.exe", "start").size());
  EXPECT_EQ(0u, linked.Events("Talvorn Server.exe", "start").size());
  EXPECT_TRUE(PathExists(elsewhere + L"\\Launcher.exe"));
  EXPECT_EQ(ReadBytes(TestkitFile(L"Talvorn Server.exe")),
            ReadBytes(elsewhere + L"\\Talvorn Server.exe"));
  EXPECT_NE(linked.log.end(), std::find(linked.log.begin(), linked.log.end(),
                                        L"C:\\Talvorn\\ is not used: it is a link"));
  RemoveUnixLink(L"C:\\Talvorn");

  ClearInstallLocations();
  CreateDirectoryW(L"C:\\Talvorn", nullptr);
  CopyFileW(TestkitFile(L"Launcher.exe").c_str(), L"C:\\Talvorn\\Launcher.exe", FALSE);
  CopyFileW(TestkitFile(L"Talvorn Server.exe").c_str(),
            L"C:\\Talvorn\\Talvorn Server.exe", FALSE);
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  // Seen installing, but no hand-off and no registry value: completion
  // reaches the fixed folder.
  Outcome run = Start({L"e2e_demo.exe", "show,wait=300,installing,wait=400",
                       {"Complete=OK"}});
  EXPECT_EQ((std::vector<Box>{NoHandOff(), Complete()}), run.boxes);
  ASSERT_EQ(1u, run.Events("Launcher.exe", "start").size());
  EXPECT_NE(run.log.end(),
            std::find(run.log.begin(), run.log.end(),
                      L"Started \"C:\\Talvorn\\Launcher.exe\" as the signed-in user: "
                      L"others can change it or what lies beside it"));
  EXPECT_FALSE(run.tmpLeft);
}

// The launcher is deleted through the handle it was judged by, and started in
// where its folder's handle lies: a folder re-pointed while it runs loses
// nothing of its own.
TEST_F(AttackEndToEndTest, TheLauncherIsDeletedThroughItsHandleNotItsName) {
  std::wstring installed = L"C:\\Talvorn Elsewhere";
  std::wstring victim = scratch / L"victim";
  for (const std::wstring& made : {installed, victim}) {
    CreateDirectoryW(made.c_str(), nullptr);
  }
  CopyFileW(TestkitFile(L"Talvorn Server.exe").c_str(),
            (installed + L"\\Talvorn Server.exe").c_str(), FALSE);
  CopyFileW(TestkitFile(L"Launcher.exe").c_str(), (installed + L"\\Launcher.exe").c_str(),
            FALSE);
  WriteBytes(victim + L"\\Launcher.exe", "the victim's own");
  std::wstring via = scratch / L"via";
  ASSERT_TRUE(MakeUnixLink(via, installed));
  Repointer repointer(via, victim, [&] {
    return ReadBytes(RecordFile()).find("prog=Launcher.exe\tevent=start") !=
           std::string::npos;
  });
  Scenario scenario{L"e2e_demo.exe", "show,wait=300,install", {"Complete=OK"}};
  scenario.environment[L"TALVORN_SETUP_HANDOFF_PATH"] = via + L"\\Talvorn Server.exe";
  Outcome run = Start(scenario);
  EXPECT_TRUE(repointer.Stop());
  RemoveUnixLink(via);
  EXPECT_EQ(std::vector<Box>{Complete()}, run.boxes);
  std::vector<Record> launched = run.Events("Launcher.exe", "start");
  ASSERT_EQ(1u, launched.size());
  // It runs in the folder where it lies, not in the link's name of it.
  EXPECT_EQ(Narrow(installed), launched[0]["cwd"]);
  EXPECT_EQ("the victim's own", ReadBytes(victim + L"\\Launcher.exe"));
  EXPECT_FALSE(PathExists(installed + L"\\Launcher.exe"));
  RemoveTree(installed);
}

}  // namespace
