// The emulated card and module driven through libtalvane.so.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Talvane.h"
#include "test_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A request block: NAD, PCB, LEN, body, check byte.
std::vector<uint8_t> Block(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f{0x12, 0x01, static_cast<uint8_t>(body.size())};
  f.insert(f.end(), body.begin(), body.end());
  uint8_t lrc = 0;
  for (uint8_t b : f) lrc ^= b;
  f.push_back(lrc);
  return f;
}

struct Reply {
  uint8_t result;
  std::vector<uint8_t> bytes;
};

class EmulatedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestDir("talvane-emu-");
    state_ = dir_ / "module.state";
    setenv("TALVANE_ADAPTER", ("emulator:" + state_.string()).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TALVANE_ADAPTER");
    fs::remove_all(dir_);
  }
  void WriteState(const std::string& text) { std::ofstream(state_) << "clock = virtual\n" << text; }
  Reply Exchange(const std::vector<uint8_t>& request) {
    std::vector<uint8_t> buffer(512, 0);
    std::copy(request.begin(), request.end(), buffer.begin());
    uint32_t length = static_cast<uint32_t>(request.size());
    const uint8_t r = Order_Module(buffer.data(), &length);
    if (r != 0) return {r, {}};
    return {r, std::vector<uint8_t>(buffer.begin(), buffer.begin() + length)};
  }
  uint32_t Init() {
    uint32_t agreed = 0;
    EXPECT_EQ(Init_Module(128, &agreed), 0);
    return agreed;
  }
  static std::vector<uint8_t> ReadIdentityRequest() { return Block({0x80, 0x60, 0, 0, 0}); }
  static std::vector<uint8_t> WriteIdentityRequest(const std::vector<uint8_t>& record) {
    std::vector<uint8_t> body{0x80,
                              0x50,
                              0,
                              0,
                              static_cast<uint8_t>(record.size() + 1),
                              static_cast<uint8_t>(record.size() + 1)};
    body.insert(body.end(), record.begin(), record.end());
    return Block(body);
  }
  static std::vector<uint8_t> ImageBlock(uint8_t position, const uint8_t* data, size_t n) {
    std::vector<uint8_t> body{0x80, 0xFF, 0x00, position, static_cast<uint8_t>(n)};
    body.insert(body.end(), data, data + n);
    return Block(body);
  }
  fs::path dir_, state_;
};

TEST_F(EmulatedModule, FoundAtEachBaseAndAgreesTheSize) {
  struct Case {
    const char* base;
    uint32_t offered, maximum, agreed;
  };
  const Case cases[] = {{"0x300", 1024, 128, 128},
                        {"0x320", 1024, 128, 128},
                        {"0x340", 64, 128, 64},
                        {"0x360", 128, 128, 128},
                        {"0x380", 1024, 128, 128}};
  for (const Case& c : cases) {
    WriteState(std::string("base = ") + c.base + "\nbuffer_size = " + std::to_string(c.offered) +
               "\n");
    uint32_t agreed = 0;
    EXPECT_EQ(Init_Module(c.maximum, &agreed), 0) << c.base;
    EXPECT_EQ(agreed, c.agreed) << c.base;
    EXPECT_EQ(Exchange(ReadIdentityRequest()).result, 0) << c.base;
  }
}

TEST_F(EmulatedModule, MissingStateFileIsCreatedWithDefaults) {
  uint32_t agreed = 0;
  EXPECT_EQ(Init_Module(128, &agreed), 0);
  EXPECT_EQ(agreed, 128u);
  const std::string text = ReadText(state_);
  EXPECT_NE(text.find("base = 0x340"), std::string::npos);
  EXPECT_NE(text.find("buffer_size = 1024"), std::string::npos);
}

TEST_F(EmulatedModule, AbsentModuleFailsInit) {
  WriteState("present = no\n");
  uint32_t agreed = 0;
  EXPECT_EQ(Init_Module(128, &agreed), 1);
  std::vector<uint8_t> buffer(512, 0);
  uint32_t length = 9;
  EXPECT_EQ(Order_Module(buffer.data(), &length), 1);
}

TEST_F(EmulatedModule, IdentityWrittenIsReadBackAndSurvivesInTheStateFile) {
  WriteState("");
  Init();
  auto reply = Exchange(ReadIdentityRequest());
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.bytes[2], 2);  // no identity: a status word only
  const std::vector<uint8_t> record{0x01, 0x09, 'D', 'V', '1', '2', '9', '9', '2', '5', '7'};
  reply = Exchange(WriteIdentityRequest(record));
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.bytes[3], 0x90);
  EXPECT_NE(ReadText(state_).find("identity = 01 09 44 56 31 32 39 39 32 35 37"),
            std::string::npos);

  // A later process reads it back from the state file.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("TALVANE_LATER_PROCESS", "1", 1);
    execl("/proc/self/exe", "emulator_integration_tests",
          "--gtest_filter=LaterProcess.ReadsTheStoredIdentity", nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the later process did not read the identity back";

  // Another run of this process, the module read afresh from its state file at the reset.
  Init();
  reply = Exchange(ReadIdentityRequest());
  ASSERT_EQ(reply.result, 0);
  ASSERT_EQ(reply.bytes.size(), 4u + 1 + 11 + 2);
  EXPECT_EQ(reply.bytes[2], 14);
  EXPECT_EQ(reply.bytes[3], 0x0C);
  EXPECT_EQ(std::vector<uint8_t>(reply.bytes.begin() + 4, reply.bytes.begin() + 15), record);
  EXPECT_EQ(reply.bytes[15], 0x90);
  EXPECT_EQ(reply.bytes[16], 0x00);
}

// Run only as the later process of the test above (TALVANE_ADAPTER is inherited from it).
TEST(LaterProcess, ReadsTheStoredIdentity) {
  if (getenv("TALVANE_LATER_PROCESS") == nullptr) GTEST_SKIP() << "run by another test";
  uint32_t agreed = 0;
  ASSERT_EQ(Init_Module(128, &agreed), 0);
  std::vector<uint8_t> buffer(512, 0);
  const auto request = Block({0x80, 0x60, 0, 0, 0});
  std::copy(request.begin(), request.end(), buffer.begin());
  uint32_t length = static_cast<uint32_t>(request.size());
  ASSERT_EQ(Order_Module(buffer.data(), &length), 0);
  EXPECT_EQ(buffer[3], 0x0C);
  EXPECT_EQ(std::string(buffer.begin() + 6, buffer.begin() + 15), "DV1299257");
}

TEST_F(EmulatedModule, ImageDownloadedBlockByBlockLandsByteIdentical) {
  WriteState("");
  Init();
  std::vector<uint8_t> image(119 * 5 + 37);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  size_t pos = 0;
  ASSERT_EQ(Exchange(ImageBlock(0x01, image.data(), 119)).bytes[3], 0x90);
  pos = 119;
  while (image.size() - pos >= 119) {
    auto r = Exchange(ImageBlock(0x00, image.data() + pos, 119));
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.bytes[3], 0x90);
    pos += 119;
  }
  auto r = Exchange(ImageBlock(0x02, image.data() + pos, image.size() - pos));
  ASSERT_EQ(r.bytes[3], 0x90);
  const std::string saved = ReadText(state_.string() + ".image");
  EXPECT_EQ(saved, std::string(image.begin(), image.end()));
  uint32_t x = 0;
  for (uint8_t b : image) x ^= b;
  const std::string text = ReadText(state_);
  EXPECT_NE(text.find("image_bytes = " + std::to_string(image.size())), std::string::npos);
  EXPECT_NE(text.find("image_blocks = 6"), std::string::npos);
  EXPECT_NE(text.find("image_xor = " + std::to_string(x)), std::string::npos);
}

struct FaultCase {
  const char* name;
  const char* key;          // hits request 2
  uint8_t second_result;    // driver result of request 2
  int second_status_byte3;  // reply byte 3, or -1 when no reply
  int second_len;           // reply LEN, or -1
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Faults : public EmulatedModule, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, EachFaultGivesItsDriverResult) {
  const FaultCase& c = GetParam();
  WriteState(std::string(c.key) + "\n");
  Init();
  ASSERT_EQ(Exchange(ReadIdentityRequest()).result, 0);  // request 1 is untouched
  const uint8_t data[119] = {};
  const auto request =
      std::string(c.name) == "IdentityLen1" ? ReadIdentityRequest() : ImageBlock(0x01, data, 119);
  auto reply = Exchange(request);
  EXPECT_EQ(reply.result, c.second_result);
  if (c.second_status_byte3 >= 0) {
    ASSERT_GE(reply.bytes.size(), 4u);
    EXPECT_EQ(reply.bytes[3], c.second_status_byte3);
  }
  if (c.second_len >= 0) {
    EXPECT_EQ(reply.bytes[2], c.second_len);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Faults,
    ::testing::Values(FaultCase{"WriteError", "fault_write_error = 2", 4, -1, -1},
                      FaultCase{"NoReply", "fault_no_reply = 2", 4, -1, -1},
                      FaultCase{"BusyForEver", "fault_busy = 2", 4, -1, -1},
                      FaultCase{"RefusedBlock", "fault_refuse_block = 2", 0, 0x65, 2},
                      FaultCase{"Removal", "fault_remove = 2", 1, -1, -1},
                      FaultCase{"IdentityLen1", "fault_identity_len1 = 2", 0, 0x6A, 1},
                      FaultCase{"SlowButInTime", "busy_polls = 3\nreply_polls = 50", 0, 0x90, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatedModule, BusyForEverFailsEvenTheFirstRequest) {
  WriteState("busy_polls = 1000\n");
  Init();
  EXPECT_EQ(Exchange(ReadIdentityRequest()).result, 4);
}

TEST_F(EmulatedModule, RemovedModuleComesBackAtTheNextInit) {
  WriteState("fault_remove = 1\n");
  Init();
  EXPECT_EQ(Exchange(ReadIdentityRequest()).result, 1);
  std::vector<uint8_t> buffer(512, 0);
  uint32_t length = 9;
  EXPECT_EQ(Order_Module(buffer.data(), &length), 1);  // not usable until the next Init
  WriteState("");
  Init();
  EXPECT_EQ(Exchange(ReadIdentityRequest()).result, 0);
}

TEST_F(EmulatedModule, RequestLongerThanTheAgreedSizeIsAWriteError) {
  WriteState("buffer_size = 64\n");
  EXPECT_EQ(Init(), 64u);
  const uint8_t data[119] = {};
  EXPECT_EQ(Exchange(ImageBlock(0x01, data, 119)).result, 4);
  // The module is still usable for a request that fits.
  EXPECT_EQ(Exchange(ReadIdentityRequest()).result, 0);
}

TEST_F(EmulatedModule, MalformedRequestsAreAnsweredWithAnErrorStatusWord) {
  WriteState("");
  Init();
  struct Case {
    const char* name;
    std::vector<uint8_t> request;
    uint8_t sw1;
  };
  auto bad_check = ReadIdentityRequest();
  bad_check.back() ^= 0x01;
  auto bad_len = ReadIdentityRequest();
  bad_len[2] = 6;
  const uint8_t data[3] = {1, 2, 3};
  const Case cases[] = {
      {"bad check byte", bad_check, 0x6A},
      {"LEN disagrees with the block", bad_len, 0x67},
      {"unknown instruction", Block({0x80, 0x42, 0, 0, 0}), 0x6D},
      {"unknown class", Block({0x00, 0x60, 0, 0, 0}), 0x6E},
      {"following block before a first", ImageBlock(0x00, data, 3), 0x69},
  };
  for (const Case& c : cases) {
    auto reply = Exchange(c.request);
    ASSERT_EQ(reply.result, 0) << c.name;
    EXPECT_EQ(reply.bytes[2], 2) << c.name;
    EXPECT_EQ(reply.bytes[3], c.sw1) << c.name;
  }
}

TEST_F(EmulatedModule, MalformedStateFileIsOneClearLineAndAnAbsentAdapter) {
  WriteState("buffer_size = 1024\nbogus_key = 3\n");
  ::testing::internal::CaptureStderr();
  uint32_t agreed = 0;
  EXPECT_EQ(Init_Module(128, &agreed), 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(state_.string() + ":3: key 'bogus_key'"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST(AdapterSelection, UnknownValueIsReportedAndTheAdapterIsAbsent) {
  setenv("TALVANE_ADAPTER", "parport", 1);
  ::testing::internal::CaptureStderr();
  uint32_t agreed = 0;
  EXPECT_EQ(Init_Module(128, &agreed), 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unknown TALVANE_ADAPTER value 'parport'"), std::string::npos) << err;
  unsetenv("TALVANE_ADAPTER");
}

TEST(AdapterSelection, HardwareWithoutPortRightReadsAsAnEmptyBus) {
  // A child without the port right: as root, it becomes nobody first.
  char path[] = "/tmp/talvane-hw-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    dup2(fd, 2);
    setenv("TALVANE_ADAPTER", "hardware", 1);
    uint32_t agreed = 0;
    _exit(Init_Module(128, &agreed));
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(fd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string err = ReadText(path);
  unlink(path);
  EXPECT_NE(err.find("setcap cap_sys_rawio+ep"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
