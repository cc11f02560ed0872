// Inflating one entry into its file through the run-time zlib binding: the
// write pattern, the reports, and that every damaged stream ends the run.
#include "compression/inflate_file.h"

#include <cstddef>
#include <thread>

#include "compression/zlib_binding.h"
#include "support/errors.h"
#include "tests/payload_test_support.h"
// Last: its Z_ macros would rename the binding's own constants.
#include <zlib.h>

namespace {

// The record handed to the library is zlib's own z_stream, field for field,
// in both builds (uLong stays 32 bits on 64-bit Windows; pointers do not).
#define SAME_FIELD(field) \
  static_assert(offsetof(ZStream, field) == offsetof(z_stream, field), #field)
SAME_FIELD(next_in);
SAME_FIELD(avail_in);
SAME_FIELD(total_in);
SAME_FIELD(next_out);
SAME_FIELD(avail_out);
SAME_FIELD(total_out);
SAME_FIELD(msg);
SAME_FIELD(state);
SAME_FIELD(zalloc);
SAME_FIELD(zfree);
SAME_FIELD(opaque);
SAME_FIELD(data_type);
SAME_FIELD(adler);
SAME_FIELD(reserved);
#undef SAME_FIELD
static_assert(sizeof(ZStream) == sizeof(z_stream), "z_stream size");

// A message-mode pipe as the target "file": every WriteFile arrives as one
// message, so the test sees the size of each write.
class WriteRecorder {
 public:
  WriteRecorder() {
    std::wstring name = L"\\\\.\\pipe\\talvorn-writes-" +
                        std::to_wstring(GetCurrentProcessId());
    server_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                               0, 1 << 20, 0, nullptr);
    file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
    reader_ = std::thread([this] {
      std::vector<char> buffer(1 << 20);
      DWORD got = 0;
      while (ReadFile(server_, buffer.data(), buffer.size(), &got, nullptr)) {
        writes.push_back(got);
        content.insert(content.end(), buffer.begin(), buffer.begin() + got);
      }
    });
  }
  // Closes the writing end and waits for the reader.
  void Finish() {
    CloseHandle(file);
    reader_.join();
    CloseHandle(server_);
  }
  HANDLE file;
  std::vector<DWORD> writes;
  Bytes content;

 private:
  HANDLE server_;
  std::thread reader_;
};

class InflateTest : public PayloadTest {
 protected:
  void SetUp() override {
    PayloadTest::SetUp();
    lstrcpyW(zlibLibraryPath, (ProgramFolder() + L"\\zlib\\zlib1.dll").c_str());
  }
  // Inflates source into a recorder; returns unzipFrom's result, or -99 when
  // it raised.
  int Inflate(const Bytes& source, WriteRecorder& recorder) {
    int result = -99;
    try {
      result = unzipFrom(recorder.file, source.data(),
                         static_cast<int32_t>(source.size()));
    } catch (CException*) {
    }
    recorder.Finish();
    return result;
  }
};

TEST_F(InflateTest, WritesOnePieceOfAtMost100000BytesPerPass) {
  for (size_t size : {size_t{100000}, size_t{250000}}) {
    Bytes content = MixedContent(size);
    WriteRecorder recorder;
    EXPECT_EQ(static_cast<int>(size), Inflate(DeflateLevel9(content), recorder));
    EXPECT_EQ(content, recorder.content);
    if (size == 100000) {
      EXPECT_EQ(std::vector<DWORD>{100000}, recorder.writes);
    } else {
      EXPECT_EQ((std::vector<DWORD>{100000, 100000, 50000}), recorder.writes);
    }
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(InflateTest, NothingToWriteMeansNoWriteAndNoReport) {
  WriteRecorder empty;
  EXPECT_EQ(0, Inflate(DeflateLevel9(Bytes()), empty));
  EXPECT_TRUE(empty.writes.empty());
  WriteRecorder zeroLength;  // an input of no bytes: zlib only asks for more
  Bytes stream = DeflateLevel9(ToBytes("x"));
  EXPECT_EQ(0, unzipFrom(zeroLength.file, stream.data(), 0));
  zeroLength.Finish();
  EXPECT_TRUE(zeroLength.writes.empty());
  EXPECT_TRUE(boxes.boxes.empty());
}

// Every stream whose file would not be what was packed: one report, then the
// run ends. A wrong Adler-32 at the very end decodes without a structural
// error (a flipped bit usually does) and is found only after the whole output.
TEST_F(InflateTest, DamagedStreamsAreReportedOnceAndEndTheUnpacking) {
  Bytes content = MixedContent(300000);
  Bytes good = DeflateLevel9(content);
  Bytes corrupt = good;
  for (size_t i = 100; i < 140; ++i) corrupt[i] ^= 0x5A;
  Bytes wrongCheck = good;
  wrongCheck.back() ^= 0xFF;
  Bytes trailing = good;
  trailing.push_back(0);
  const struct {
    const char* what;
    Bytes stream;
  } cases[] = {
      {"corrupt", corrupt},
      {"wrong Adler-32", wrongCheck},
      {"bytes after the end", trailing},
      {"needs a dictionary", {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00}},
      {"cut in half", Bytes(good.begin(), good.begin() + good.size() / 2)},
      {"no Adler-32", Bytes(good.begin(), good.end() - 4)},
      {"header only", Bytes(good.begin(), good.begin() + 2)},
  };
  for (const auto& c : cases) {
    boxes.boxes.clear();
    WriteRecorder recorder;
    EXPECT_EQ(-99, Inflate(c.stream, recorder)) << c.what;
    ASSERT_EQ(1u, boxes.boxes.size()) << c.what;
    EXPECT_EQ(L"Error in unzip inflate 101", boxes.boxes[0].text) << c.what;
    EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.boxes[0].flags) << c.what;
  }
}

TEST_F(InflateTest, ANullSourceOrAFailedWriteRaisesWithItsLabel) {
  WriteRecorder recorder;
  bool raised = false;
  try {
    unzipFrom(recorder.file, nullptr, 10);
  } catch (CException* e) {
    raised = e->code == -1;
  }
  recorder.Finish();
  EXPECT_TRUE(raised);
  std::wstring path = scratch / L"readonly.bin";
  WriteBytes(path, "");
  HANDLE readOnly = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  Bytes stream = DeflateLevel9(ToBytes("content"));
  EXPECT_THROW(unzipFrom(readOnly, stream.data(), static_cast<int32_t>(stream.size())),
               CException*);
  CloseHandle(readOnly);
  EXPECT_EQ((std::vector<std::wstring>{L"unzipFrom Error=-1",
                                       L"Read writing zip to dest Error=-1"}),
            boxes.Texts());
  EXPECT_EQ(UINT(MB_OK), boxes.boxes[1].flags);
}

TEST_F(InflateTest, TheLibraryIsLoadedOnceAndReleasedOnce) {
  Bytes stream = DeflateLevel9(ToBytes("twice"));
  for (int i = 0; i < 2; ++i) {
    WriteRecorder recorder;
    EXPECT_EQ(5, Inflate(stream, recorder));
  }
  EXPECT_EQ(1, zlibAttempted);
  HMODULE loaded = GetModuleHandleW(zlibLibraryPath);
  EXPECT_EQ(zlibModule, loaded);
  FreeZlib();
  FreeZlib();
  EXPECT_EQ(nullptr, zlibModule);
  EXPECT_EQ(nullptr, GetModuleHandleW(zlibLibraryPath));
  // Released, the binding calls nothing and gives no decompressor.
  WriteRecorder after;
  EXPECT_EQ(-99, Inflate(stream, after));
  EXPECT_EQ(std::vector<std::wstring>{L"Error in unzip init 101"}, boxes.Texts());
}

TEST_F(InflateTest, AMissingLibraryShowsItsReportsInOrderAndEndsTheRun) {
  lstrcpyW(zlibLibraryPath, (scratch / L"zlib1.dll").c_str());
  WriteRecorder recorder;
  EXPECT_EQ(-99, Inflate(DeflateLevel9(ToBytes("x")), recorder));
  EXPECT_EQ((std::vector<std::wstring>{L"No zip 100", L"No zip procs 100",
                                       L"Error in unzip init 101"}),
            boxes.Texts());
  EXPECT_EQ(1, errorShown);
}

TEST_F(InflateTest, EveryRequiredExportMustBeThereButGzwrite) {
  lstrcpyW(zlibLibraryPath, (ProgramFolder() + L"\\zlib\\zlib_no_deflateInit2.dll").c_str());
  WriteRecorder refused;
  EXPECT_EQ(-99, Inflate(DeflateLevel9(ToBytes("x")), refused));
  EXPECT_EQ((std::vector<std::wstring>{L"No zip procs 100",
                                       L"Error in unzip init 101"}),
            boxes.Texts());
  EXPECT_EQ(nullptr, GetModuleHandleW(zlibLibraryPath));  // released again

  ResetZlibForTesting();
  boxes.boxes.clear();
  lstrcpyW(zlibLibraryPath, (ProgramFolder() + L"\\zlib\\zlib_no_gzwrite.dll").c_str());
  WriteRecorder accepted;
  EXPECT_EQ(1, Inflate(DeflateLevel9(ToBytes("x")), accepted));
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
