// Turns a stream of input bytes into console keys for the script front end:
// LF or CR is Enter (a CR LF pair is one Enter), DEL is Backspace, UTF-8
// letters of Latin-1 become their single byte, and the ANSI/xterm escape
// sequences of the cursor keys, Home/End, PgUp/PgDn, Insert/Delete and
// F1..F12 become extended keys (0, scan code). The xterm modifier of such a
// sequence (ESC [ 1 ; 2 D is Shift+Left) tells whether Shift was held.
//
// A lone ESC must not hang the program: after ESC the decoder waits at most
// kEscapeWaitMs for the rest of a sequence; if nothing follows, ESC is a key.
// Unknown or broken sequences are dropped whole, like other keys the console
// does not know; but ESC O or ESC [ followed by a byte that no sequence has
// there (ESC O Y, ESC [ Enter) are the keys as typed, so a script may answer
// O or [ right after an Escape. Only ESC O A..D, F, H, M, P..S stay keys of
// the keypad.
#pragma once

#include <string>

namespace svfit::console::detail {

inline constexpr int kEscapeWaitMs = 40;

class ByteSource {
 public:
  static constexpr int kEnd = -1;      // input has ended (stays ended)
  static constexpr int kTimeout = -2;  // nothing arrived within the time
  virtual ~ByteSource() = default;
  // The next byte 0..255; timeoutMs < 0 waits as long as it takes.
  virtual int Get(int timeoutMs) = 0;
};

struct DecodedKey {
  enum Kind { kChar, kExtended, kIgnored, kTimeout, kEnd };
  Kind kind;
  int code;        // character or scan code
  int shift = -1;  // extended keys: 1 Shift held, 0 not (xterm modifier); -1 not known
};

class KeyDecoder {
 public:
  DecodedKey Next(ByteSource& in, int timeoutMs);

 private:
  int Get(ByteSource& in, int timeoutMs);
  void Unget(int b) { pushback_.push_back(static_cast<char>(b)); }
  DecodedKey Escape(ByteSource& in);
  DecodedKey Csi(ByteSource& in);
  DecodedKey Ss3(ByteSource& in);
  DecodedKey Utf8(ByteSource& in, int lead);
  std::string pushback_;  // bytes read ahead, last in first out
  bool afterCr_ = false;  // a following LF belongs to the CR
};

// Reads standard input (or any file descriptor) with poll() for the timeouts.
class FdByteSource final : public ByteSource {
 public:
  explicit FdByteSource(int fd) : fd_(fd) {}
  int Get(int timeoutMs) override;

 private:
  int fd_;
  unsigned char buf_[4096];
  int len_ = 0, pos_ = 0;
  bool ended_ = false;
};

}  // namespace svfit::console::detail
