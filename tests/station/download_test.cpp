// The image download against the emulated module: the frames sent, when each lamp lights, and
// the image as the module received it.
#include <cstring>

#include "Talvane.h"
#include "Testprod.h"
#include "station_fixture.h"

namespace station_test {
namespace {

// Forwards to the driver and keeps every request frame.
struct Recorder {
  static inline std::vector<std::vector<uint8_t>> frames;
  static uint8_t Order(uint8_t* buffer, uint32_t* length) {
    frames.emplace_back(buffer, buffer + *length);
    return Order_Module(buffer, length);
  }
};

class DownloadTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    Recorder::frames.clear();
    testprod::OrderModuleHook = &Recorder::Order;
  }
  void TearDown() override {
    testprod::OrderModuleHook = &Order_Module;
    StationTest::TearDown();
  }
  // Start-up with an image of this size, the module reset, and every repaint watched.
  void Ready(size_t image_size) {
    PrepareStation(image_size);
    Start();
    ASSERT_TRUE(Form1->Button1->Enabled());
    uint32_t agreed = 0;
    ASSERT_EQ(Init_Module(128, &agreed), 0);
    Form1->AfterUpdate = [this] { repaints_.push_back(CurrentLamps()); };
  }
  std::vector<LampSnapshot> repaints_;
};

struct SizeCase {
  size_t size;
  size_t frames;
  size_t last_frame_bytes;
  std::vector<LampSnapshot> repaints;
};

TEST_F(DownloadTest, FramesAndLampsForEachImageSize) {
  const LampSnapshot p2 = Lamps({2}), p2_3 = Lamps({2, 3}),
                     p2_10 = Lamps({2, 3, 4, 5, 6, 7, 8, 9, 10});
  const LampSnapshot all = Lamps({2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  const SizeCase cases[] = {
      {119, 2, 9, {p2, p2_10, all}},
      {300, 3, 71, {p2, p2_10, all}},
      {202 * 119 - 1, 202, 118 + 9, {p2, p2_10, all}},
      {202 * 119, 203, 9, {p2, p2_3, p2_10, all}},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.size);
    repaints_.clear();
    Recorder::frames.clear();
    Ready(c.size);
    EXPECT_EQ(Form1->DownloadImage(), kImageLoaded);
    ASSERT_EQ(Recorder::frames.size(), c.frames);
    EXPECT_EQ(Recorder::frames.front().size(), 128u);
    EXPECT_EQ(std::vector<uint8_t>(Recorder::frames[0].begin(), Recorder::frames[0].begin() + 8),
              (std::vector<uint8_t>{0x12, 0x01, 0x7C, 0x80, 0xFF, 0x00, 0x01, 0x77}));
    for (size_t i = 1; i + 1 < c.frames; ++i) {
      ASSERT_EQ(Recorder::frames[i].size(), 128u);
      EXPECT_EQ(Recorder::frames[i][6], 0x00);
    }
    EXPECT_EQ(Recorder::frames.back().size(), c.last_frame_bytes);
    EXPECT_EQ(Recorder::frames.back()[6], 0x02);
    ASSERT_EQ(repaints_.size(), c.repaints.size());
    for (size_t i = 0; i < c.repaints.size(); ++i) {
      EXPECT_EQ(repaints_[i], c.repaints[i]) << i << ": " << ToString(repaints_[i]);
    }
    EXPECT_EQ(ReadBytes(dir_ / "module.state.image"), std::string(image_.begin(), image_.end()));
    vcl::Application->ReleaseForms();
  }
}

TEST_F(DownloadTest, EmptyLastBlockIsExact) {
  Ready(119);
  ASSERT_EQ(Form1->DownloadImage(), kImageLoaded);
  EXPECT_EQ(Recorder::frames.back(),
            (std::vector<uint8_t>{0x12, 0x01, 0x05, 0x80, 0xFF, 0x00, 0x02, 0x00, 0x6B}));
  // The check byte of a full block: the XOR of its data with 0x66 for the first block.
  uint8_t x = 0x66;
  for (size_t i = 0; i < 119; ++i) x ^= image_[i];
  EXPECT_EQ(Recorder::frames[0][127], x);
}

TEST_F(DownloadTest, EveryThresholdLampLightsAtItsBlock) {
  Ready(1403 * 119 + 5);  // following blocks j = 0 to 1401
  ASSERT_EQ(Form1->DownloadImage(), kImageLoaded);
  std::vector<LampSnapshot> expected;
  std::vector<int> lit{2};
  auto snapshot = [&] {
    LampSnapshot s{};
    for (int n : lit) s.lit[n - 1] = true;
    return s;
  };
  expected.push_back(snapshot());
  for (int lamp = 3; lamp <= 9; ++lamp) {
    lit.push_back(lamp);
    expected.push_back(snapshot());
  }
  lit.push_back(10);
  expected.push_back(snapshot());
  lit.push_back(11);
  expected.push_back(snapshot());
  ASSERT_EQ(repaints_.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(repaints_[i], expected[i]) << i;
  EXPECT_EQ(ReadBytes(dir_ / "module.state.image"), std::string(image_.begin(), image_.end()));
}

TEST_F(DownloadTest, RefusedFirstBlockLightsOnlyPanel2AndClosesTheFile) {
  WriteModule("fault_refuse_block = 1\n");
  Ready(1000);
  EXPECT_EQ(Form1->DownloadImage(), kImageFailed);
  EXPECT_EQ(Recorder::frames.size(), 1u);
  EXPECT_EQ(CurrentLamps(), Lamps({2}));
  // The image is closed: no descriptor of this process still points at it.
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = fs::read_symlink(entry.path(), ec);
    EXPECT_NE(target, dir_ / "fw.bin");
  }
}

TEST_F(DownloadTest, MissingImageShowsTheBoxAndSendsNothing) {
  Ready(300);
  fs::remove(dir_ / "fw.bin");
  EXPECT_EQ(Form1->DownloadImage(), kImageFailed);
  EXPECT_TRUE(Recorder::frames.empty());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Cannot open the file");
  EXPECT_EQ(boxes_[0].caption, "Error");
  EXPECT_EQ(boxes_[0].flags, platform::MB_OKCANCEL);
  EXPECT_EQ(CurrentLamps(), Lamps({}));
}

TEST_F(DownloadTest, ImageShorterThanOneBlockIsRefusedBeforeAnyBlock) {
  for (size_t size : {0u, 100u, 118u}) {
    Recorder::frames.clear();
    Ready(300);
    WriteImage(PatternImage(size));  // replaced after start-up
    EXPECT_EQ(Form1->DownloadImage(), kImageFailed) << size;
    EXPECT_TRUE(Recorder::frames.empty()) << size;
    vcl::Application->ReleaseForms();
  }
}

TEST_F(DownloadTest, ImageTruncatedDuringTheDownloadIsNotPaddedWithStaleBytes) {
  Ready(100 * 119);
  // The image is cut to 200 bytes once the first block is on its way.
  testprod::OrderModuleHook = [](uint8_t* b, uint32_t* l) -> uint8_t {
    Recorder::frames.emplace_back(b, b + *l);
    if (Recorder::frames.size() == 1) fs::resize_file("fw.bin", 200);
    return Order_Module(b, l);
  };
  EXPECT_EQ(Form1->DownloadImage(), kImageFailed);
  ASSERT_LT(Recorder::frames.size(), 100u);
  // Whatever went out before the reads came up short is the image's own bytes.
  for (size_t f = 0; f < Recorder::frames.size(); ++f) {
    ASSERT_EQ(Recorder::frames[f].size(), 128u);
    EXPECT_EQ(std::memcmp(Recorder::frames[f].data() + 8, image_.data() + f * 119, 119), 0) << f;
  }
  EXPECT_FALSE(fs::exists(dir_ / "module.state.image"));
}

TEST_F(DownloadTest, ReplyCheckAcceptsOnlyStatusWord9000) {
  Ready(300);
  struct Case {
    std::vector<uint8_t> reply;
    uint8_t result;
    bool accepted;
  };
  static std::vector<uint8_t> reply;
  static uint8_t result;
  const Case cases[] = {
      {{0x99, 0x98, 0x77, 0x90, 0x00, 0x00}, 0, true},  // NAD, PCB, LEN, LRC never looked at
      {{0x21, 0x00, 0x02, 0x90, 0x01, 0x00}, 0, false},
      {{0x21, 0x00, 0x02, 0x6A}, 0, false},  // four bytes: byte 4 still the request's 0xFF
      {{}, 4, false},                        // a failed exchange leaves the request
  };
  for (const Case& c : cases) {
    reply = c.reply;
    result = c.result;
    testprod::OrderModuleHook = [](uint8_t* b, uint32_t* l) -> uint8_t {
      if (result != 0) return result;
      std::memcpy(b, reply.data(), reply.size());
      *l = static_cast<uint32_t>(reply.size());
      return 0;
    };
    EXPECT_EQ(Form1->DownloadImage(), c.accepted ? kImageLoaded : kImageFailed);
  }
}

}  // namespace
}  // namespace station_test
