// Input bytes of the script front end to console keys.
#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "console/crt.h"

namespace svfit::console::detail {
namespace {

constexpr int kPause = ByteSource::kTimeout;  // in a script: nothing arrives in time

class FakeSource final : public ByteSource {
 public:
  explicit FakeSource(std::vector<int> bytes) : bytes_(std::move(bytes)) {}
  explicit FakeSource(std::string_view s) {
    for (char c : s) bytes_.push_back(static_cast<unsigned char>(c));
  }
  int Get(int) override { return pos_ < bytes_.size() ? bytes_[pos_++] : kEnd; }

 private:
  std::vector<int> bytes_;
  std::size_t pos_ = 0;
};

// All keys up to the end, as the console would receive them: characters as
// themselves, extended keys as 0 and the scan code.
std::vector<int> Keys(ByteSource&& in) {
  KeyDecoder d;
  std::vector<int> out;
  for (int guard = 0; guard < 10000; ++guard) {
    const DecodedKey k = d.Next(in, -1);
    if (k.kind == DecodedKey::kEnd) return out;
    if (k.kind == DecodedKey::kChar) out.push_back(k.code);
    if (k.kind == DecodedKey::kExtended) {
      out.push_back(0);
      out.push_back(k.code);
    }
  }
  ADD_FAILURE() << "decoder did not reach the end";
  return out;
}

using V = std::vector<int>;

TEST(KeyDecoder, LineEndsCursorAndFunctionKeySequences) {
  EXPECT_EQ(Keys(FakeSource("a\r\nb\nc\r\rd\n\n")),  // CR LF is one Enter
            (V{'a', 13, 'b', 13, 'c', 13, 13, 'd', 13, 13}));
  EXPECT_EQ(Keys(FakeSource("x\x7f")), (V{'x', 8}));
  EXPECT_EQ(Keys(FakeSource("\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F")),
            (V{0, 72, 0, 80, 0, 77, 0, 75, 0, 71, 0, 79}));
  EXPECT_EQ(Keys(FakeSource("\x1bOP\x1bOS\x1b[15~\x1b[21~\x1b[23~\x1b[24~")),
            (V{0, 59, 0, 62, 0, 63, 0, 68, 0, 133, 0, 134}));
  EXPECT_EQ(Keys(FakeSource("\x1b[2~\x1b[3~\x1b[5~\x1b[6~\x1b[1~\x1b[4~")),
            (V{0, 82, 0, 83, 0, 73, 0, 81, 0, 71, 0, 79}));
  EXPECT_EQ(Keys(FakeSource("\x1b[1;5C\x1b[[A\x1b[1;2P")), (V{0, 77, 0, 59, 0, 59}));
  // Shift comes from the xterm modifier; a character says nothing about it.
  const std::pair<std::string_view, int> shifts[] = {
      {"\x1b[1;2D", 1}, {"\x1b[1;6C", 1}, {"\x1b[1;5C", 0}, {"\x1b[5;2~", 1},
      {"\x1b[D", 0},    {"\x1bOD", 0},    {"a", -1}};
  for (const auto& [bytes, shift] : shifts) {
    FakeSource in(bytes);
    EXPECT_EQ(KeyDecoder().Next(in, -1).shift, shift) << bytes;
  }
}

TEST(KeyDecoder, LoneEscapeDoesNotWaitBrokenSequencesAreDroppedUtf8BecomesLatin1) {
  EXPECT_EQ(Keys(FakeSource(V{27, kPause, 'x'})), (V{27, 'x'}));
  EXPECT_EQ(Keys(FakeSource(V{27})), (V{27}));
  EXPECT_EQ(Keys(FakeSource("\x1bx")), (V{27, 'x'}));  // Alt-x: two keys
  EXPECT_EQ(Keys(FakeSource(V{27, 'O', kPause, 'k'})), (V{27, 'O', 'k'}));
  EXPECT_EQ(Keys(FakeSource("\x1bOY\x1b[\n")), (V{27, 'O', 'Y', 27, '[', 13}));  // no sequence
  EXPECT_EQ(Keys(FakeSource("\x1b[99~a\x1b[Zb")), (V{'a', 'b'}));
  EXPECT_EQ(Keys(FakeSource(V{27, '[', '1', kPause, 'y'})), (V{'y'}));
  EXPECT_EQ(Keys(FakeSource("\x1b[1\r2")), (V{13, '2'}));  // the stray CR survives
  EXPECT_EQ(Keys(FakeSource("\x1b[" + std::string(40, '1') + "~z")), (V{'z'}));
  EXPECT_EQ(Keys(FakeSource("\xC2\xB5\xC3\xA4")), (V{0xB5, 0xE4}));
  EXPECT_EQ(Keys(FakeSource("\xE2\x82\xAC")), (V{'?'}));   // euro sign: not Latin-1
  EXPECT_EQ(Keys(FakeSource("\xC3" "a")), (V{0xC3, 'a'}));  // not UTF-8: Latin-1 byte
  EXPECT_EQ(Keys(FakeSource("\xB5")), (V{0xB5}));
}

TEST(KeyDecoder, RandomBytesAlwaysReachTheEnd) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    V bytes(static_cast<std::size_t>(rng() % 200));
    for (int& b : bytes) {
      const unsigned r = rng() % 10;
      b = r < 3 ? 27 : r < 4 ? '[' : r < 5 ? kPause : static_cast<int>(rng() % 256);
    }
    const V keys = Keys(FakeSource(bytes));
    EXPECT_LE(keys.size(), 2 * bytes.size());
  }
}

}  // namespace
}  // namespace svfit::console::detail
