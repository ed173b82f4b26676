// libFuzzer target: the key decoder of the script front end.
//
// The first byte chooses where the input pauses: bit k set makes the k-th
// wait for the rest of an escape sequence (mod 8) time out, as when a lone
// Escape is typed. The rest is the byte stream of standard input.
//
// Checked for every input: decoding ends (each key consumes input), every key
// is a byte 0..255 or a known scan code with a known shift state; and the
// keys decoded, written back in their canonical form (CR, the plain byte, the
// CSI or SS3 sequence with the Shift modifier), decode to the same keys.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/crt.h"
#include "console/key_decoder.h"

namespace {

using namespace svfit::console;
using detail::ByteSource;
using detail::DecodedKey;

class Bytes final : public ByteSource {
 public:
  Bytes(std::string bytes, unsigned pauses) : bytes_(std::move(bytes)), pauses_(pauses) {}
  int Get(int timeoutMs) override {
    if (timeoutMs >= 0 && ((pauses_ >> (waits_++ % 8)) & 1)) return kTimeout;
    if (pos_ >= bytes_.size()) return kEnd;
    return static_cast<unsigned char>(bytes_[pos_++]);
  }
  std::size_t pos() const { return pos_; }

 private:
  std::string bytes_;
  unsigned pauses_;
  unsigned waits_ = 0;
  std::size_t pos_ = 0;
};

bool KnownScan(int scan) {
  switch (scan) {
    case kScanHome: case kScanUp: case kScanPageUp: case kScanLeft: case kScanRight:
    case kScanEnd: case kScanDown: case kScanPageDown: case kScanInsert: case kScanDelete:
    case kScanF11: case kScanF12:
      return true;
    default:
      return scan >= kScanF1 && scan <= kScanF1 + 9;
  }
}

std::vector<DecodedKey> Decode(const std::string& bytes, unsigned pauses) {
  Bytes in(bytes, pauses);
  detail::KeyDecoder decoder;
  std::vector<DecodedKey> keys;
  for (std::size_t steps = 0;; ++steps) {
    if (steps > 2 * bytes.size() + 16) {
      std::fprintf(stderr, "decoder does not end\n");
      std::abort();
    }
    const DecodedKey k = decoder.Next(in, -1);
    if (k.kind == DecodedKey::kEnd) break;
    if (k.kind == DecodedKey::kTimeout) continue;
    if (k.kind == DecodedKey::kChar && (k.code < 0 || k.code > 255)) std::abort();
    if (k.kind == DecodedKey::kExtended && (!KnownScan(k.code) || k.shift < -1 || k.shift > 1))
      std::abort();
    if (k.kind != DecodedKey::kIgnored) keys.push_back(k);
  }
  return keys;
}

// The canonical bytes of a key, as a terminal sends it.
std::string Encode(const DecodedKey& k) {
  if (k.kind == DecodedKey::kChar) {
    if (k.code == kKeyEnter) return "\r";
    if (k.code == kKeyBackspace) return "\x7f";
    if (k.code == kKeyEscape) return "\x1b";  // followed by a pause
    if (k.code >= 0x80) {                     // Latin-1 as UTF-8
      return {static_cast<char>(0xC0 | (k.code >> 6)), static_cast<char>(0x80 | (k.code & 0x3F))};
    }
    return std::string(1, static_cast<char>(k.code));
  }
  const char* tilde = nullptr;
  char letter = 0;
  switch (k.code) {
    case kScanUp: letter = 'A'; break;
    case kScanDown: letter = 'B'; break;
    case kScanRight: letter = 'C'; break;
    case kScanLeft: letter = 'D'; break;
    case kScanHome: letter = 'H'; break;
    case kScanEnd: letter = 'F'; break;
    case kScanInsert: tilde = "2"; break;
    case kScanDelete: tilde = "3"; break;
    case kScanPageUp: tilde = "5"; break;
    case kScanPageDown: tilde = "6"; break;
    case kScanF11: tilde = "23"; break;
    case kScanF12: tilde = "24"; break;
    default: {
      static const char* const kF[] = {"11", "12", "13", "14", "15", "17", "18", "19", "20", "21"};
      tilde = kF[k.code - kScanF1];
    }
  }
  const std::string shift = k.shift == 1 ? ";2" : "";
  if (letter != 0) return std::string("\x1b[1") + shift + letter;
  return std::string("\x1b[") + tilde + shift + "~";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<DecodedKey> keys = Decode(bytes, data[0]);

  // Round trip, one key at a time through the same decoder: a lone Escape
  // is then followed by the end of its piece, as by a pause.
  detail::KeyDecoder decoder;
  std::vector<DecodedKey> back;
  for (const DecodedKey& k : keys) {
    Bytes one(Encode(k), 0);
    back.push_back(decoder.Next(one, -1));
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const bool same = back[i].kind == keys[i].kind && back[i].code == keys[i].code &&
                      (keys[i].kind != DecodedKey::kExtended || back[i].shift == (keys[i].shift == 1 ? 1 : 0));
    if (!same) {
      std::fprintf(stderr, "key %zu: %d/%d decoded back as %d/%d\n", i, keys[i].kind, keys[i].code,
                   back[i].kind, back[i].code);
      std::abort();
    }
  }
  return 0;
}
