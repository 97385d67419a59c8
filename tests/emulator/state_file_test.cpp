// The emulated module's state file: parsing, errors and write-back.
#include "state_file.h"

#include <gtest/gtest.h>

namespace emulator {
namespace {

TEST(StateFile, DefaultsAndEveryKey) {
  std::string error;
  auto defaults = ParseState(DefaultStateText(), &error);
  ASSERT_TRUE(defaults) << error;
  EXPECT_EQ(defaults->base, 0x340);
  EXPECT_TRUE(defaults->present);
  EXPECT_EQ(defaults->buffer_size, 1024u);
  EXPECT_TRUE(defaults->identity.empty());

  auto full = ParseState(
      "# a module\n"
      "  base = 0x380  \n"
      "present = no # taken out\n"
      "buffer_size = 64\n"
      "identity = 01 09 44 56 31 32 39 39 32 35 37\n"
      "busy_polls = 3\nreply_polls = 4\nfault_busy = 11\nfault_write_error = 5\nfault_no_reply = "
      "6\n"
      "fault_refuse_block = 7\nfault_remove = 8\nfault_identity_len1 = 9\nclock = virtual\n"
      "image_file = /tmp/x.bin\nimage_bytes = 10\nimage_blocks = 2\nimage_xor = 255\n",
      &error);
  ASSERT_TRUE(full) << error;
  EXPECT_EQ(full->base, 0x380);
  EXPECT_FALSE(full->present);
  EXPECT_EQ(full->buffer_size, 64u);
  EXPECT_EQ(full->identity, (std::vector<uint8_t>{0x01, 0x09, 0x44, 0x56, 0x31, 0x32, 0x39, 0x39,
                                                  0x32, 0x35, 0x37}));
  EXPECT_EQ(full->busy_polls, 3u);
  EXPECT_EQ(full->reply_polls, 4u);
  EXPECT_EQ(full->fault_busy, 11u);
  EXPECT_EQ(full->fault_write_error, 5u);
  EXPECT_EQ(full->fault_no_reply, 6u);
  EXPECT_EQ(full->fault_refuse_block, 7u);
  EXPECT_EQ(full->fault_remove, 8u);
  EXPECT_EQ(full->fault_identity_len1, 9u);
  EXPECT_TRUE(full->virtual_clock);
  EXPECT_EQ(full->image_file, "/tmp/x.bin");
}

TEST(StateFile, ErrorsNameTheLineAndTheKey) {
  struct Case {
    const char* text;
    const char* error_start;
  };
  const Case cases[] = {
      {"base = 0x310\n", "1: key 'base'"},
      {"base = 832x\n", "1: key 'base'"},
      {"\n\npresent = maybe\n", "3: key 'present'"},
      {"buffer_size = 65536\n", "1: key 'buffer_size'"},
      {"buffer_size = -1\n", "1: key 'buffer_size'"},
      {"identity = 01 9\n", "1: key 'identity'"},
      {"identity = 01 GG\n", "1: key 'identity'"},
      {"busy_polls = many\n", "1: key 'busy_polls'"},
      {"fault_remove = 4294967296\n", "1: key 'fault_remove'"},
      {"colour = red\n", "1: key 'colour': unknown key"},
      {"just words\n", "1: key 'just words'"},
      {"clock = fast\n", "1: key 'clock'"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseState(c.text, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error_start, 0), 0u) << c.text << " gave " << error;
  }
}

TEST(StateFile, UpdateReplacesInPlaceKeepsCommentsAndAppendsNewKeys) {
  const std::string before = "# module 7\nidentity =\nbuffer_size = 64  # small\n";
  const std::string after =
      UpdateStateText(before, {{"identity", "01 02"}, {"image_bytes", "300"}});
  EXPECT_EQ(after, "# module 7\nidentity = 01 02\nbuffer_size = 64  # small\nimage_bytes = 300\n");
  std::string error;
  auto parsed = ParseState(after, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->identity, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(parsed->image_bytes, 300u);
}

}  // namespace
}  // namespace emulator
