// Escape sequences understood (the parameter after ";" is the xterm modifier,
// 1 + bits Shift 1, Alt 2, Ctrl 4: only Shift is kept, so Ctrl and Alt
// variants give the plain key):
//   CSI A B C D H F      Up Down Right Left Home End       (also SS3 A..D H F)
//   CSI P Q R S, SS3 P..S  F1..F4
//   CSI n ~              1/7 Home, 2 Insert, 3 Delete, 4/8 End, 5 PgUp, 6 PgDn,
//                        11..15 F1..F5, 17..21 F6..F10, 23 F11, 24 F12
//   CSI [ A..E           F1..F5 of the Linux console
//   SS3 M                keypad Enter
#include "console/key_decoder.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "console/crt.h"

namespace svfit::console::detail {
namespace {

constexpr int kMaxSequence = 16;  // longer "sequences" are garbage

DecodedKey Char(int c) { return {DecodedKey::kChar, c}; }
DecodedKey Ext(int scan, int shift = 0) { return {DecodedKey::kExtended, scan, shift}; }

// Shift from the parameters of a CSI sequence: the modifier after ";".
int ShiftOf(const std::string& params) {
  const std::size_t semi = params.find(';');
  if (semi == std::string::npos) return 0;
  int m = 0;
  for (std::size_t i = semi + 1; i < params.size() && params[i] >= '0' && params[i] <= '9' && m < 100; ++i)
    m = m * 10 + (params[i] - '0');
  return m >= 2 ? (m - 1) & 1 : 0;
}
DecodedKey Ignored() { return {DecodedKey::kIgnored, 0}; }

// Final letters shared by CSI and SS3.
int LetterKey(int f) {
  switch (f) {
    case 'A': return kScanUp;
    case 'B': return kScanDown;
    case 'C': return kScanRight;
    case 'D': return kScanLeft;
    case 'H': return kScanHome;
    case 'F': return kScanEnd;
    case 'P': return kScanF1;
    case 'Q': return kScanF1 + 1;
    case 'R': return kScanF1 + 2;
    case 'S': return kScanF1 + 3;
    default: return 0;
  }
}

// CSI n ~ keys.
int TildeKey(int n) {
  switch (n) {
    case 1: case 7: return kScanHome;
    case 2: return kScanInsert;
    case 3: return kScanDelete;
    case 4: case 8: return kScanEnd;
    case 5: return kScanPageUp;
    case 6: return kScanPageDown;
    case 11: case 12: case 13: case 14: case 15: return kScanF1 + (n - 11);
    case 17: case 18: case 19: case 20: case 21: return kScanF1 + 5 + (n - 17);
    case 23: return kScanF11;
    case 24: return kScanF12;
    default: return 0;
  }
}

}  // namespace

int KeyDecoder::Get(ByteSource& in, int timeoutMs) {
  if (!pushback_.empty()) {
    const int b = static_cast<unsigned char>(pushback_.back());
    pushback_.pop_back();
    return b;
  }
  return in.Get(timeoutMs);
}

DecodedKey KeyDecoder::Next(ByteSource& in, int timeoutMs) {
  for (;;) {
    const int b = Get(in, timeoutMs);
    if (b == ByteSource::kEnd) return {DecodedKey::kEnd, 0};
    if (b == ByteSource::kTimeout) return {DecodedKey::kTimeout, 0};
    const bool lfOfCr = afterCr_ && b == '\n';
    afterCr_ = false;
    if (lfOfCr) continue;  // CR LF is one Enter
    switch (b) {
      case '\r':
        afterCr_ = true;
        return Char(kKeyEnter);
      case '\n':
        return Char(kKeyEnter);
      case 127:  // what the Backspace key of a terminal sends
        return Char(kKeyBackspace);
      case 27:
        return Escape(in);
      default:
        if (b >= 0xC2 && b <= 0xF4) return Utf8(in, b);
        return Char(b);
    }
  }
}

DecodedKey KeyDecoder::Escape(ByteSource& in) {
  const int n = Get(in, kEscapeWaitMs);
  if (n == '[') return Csi(in);
  if (n == 'O') return Ss3(in);
  if (n >= 0) Unget(n);  // ESC followed by an ordinary key: both are keys
  return Char(kKeyEscape);
}

DecodedKey KeyDecoder::Csi(ByteSource& in) {
  int first = Get(in, kEscapeWaitMs);
  if (first < 0) return Ignored();
  if (first < 0x20 || first > 0x7E) {  // Escape, '[' and a key: no sequence begins so
    Unget(first);
    Unget('[');
    return Char(kKeyEscape);
  }
  if (first == '[') {  // Linux console F1..F5: CSI [ A..E
    const int f = Get(in, kEscapeWaitMs);
    if (f >= 'A' && f <= 'E') return Ext(kScanF1 + (f - 'A'));
    if (f >= 0) Unget(f);
    return Ignored();
  }
  std::string params;
  int b = first;
  for (int count = 0;; ++count) {
    if (b >= 0x40 && b <= 0x7E) break;  // final byte
    if (count >= kMaxSequence && b >= 0x20 && b <= 0x3F) {
      // Far too long to be a key: skip to its end without keeping it.
      b = Get(in, kEscapeWaitMs);
      if (b < 0) return Ignored();
      if (b >= 0x40 && b <= 0x7E) return Ignored();
      continue;
    }
    if (b < 0x20 || b > 0x3F) {
      // Not a sequence after all: drop what was read, keep the stray byte.
      if (b >= 0 && b < 0x20) Unget(b);
      return Ignored();
    }
    params += static_cast<char>(b);
    b = Get(in, kEscapeWaitMs);
    if (b < 0) return Ignored();
  }
  if (b == '~') {
    int n = 0;
    for (char c : params) {
      if (c < '0' || c > '9') break;
      n = n * 10 + (c - '0');
      if (n > 1000) break;
    }
    const int scan = TildeKey(n);
    return scan ? Ext(scan, ShiftOf(params)) : Ignored();
  }
  const int scan = LetterKey(b);
  return scan ? Ext(scan, ShiftOf(params)) : Ignored();
}

DecodedKey KeyDecoder::Ss3(ByteSource& in) {
  const int f = Get(in, kEscapeWaitMs);
  if (f < 0) {  // ESC O and nothing more: Alt-O, two ordinary keys
    Unget('O');
    return Char(kKeyEscape);
  }
  if (f == 'M') return Char(kKeyEnter);
  const int scan = LetterKey(f);
  if (scan) return Ext(scan);
  // No key ends like this: Escape, then the letter O and the byte after it
  // (a script that leaves the viewer with ESC and answers O at the menu).
  Unget(f);
  Unget('O');
  return Char(kKeyEscape);
}

DecodedKey KeyDecoder::Utf8(ByteSource& in, int lead) {
  const int need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  int cp = lead & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
  for (int i = 0; i < need; ++i) {
    const int c = Get(in, kEscapeWaitMs);
    if (c < 0x80 || c > 0xBF) {
      // Not UTF-8: take the lead byte as a Latin-1 letter.
      if (c >= 0) Unget(c);
      return Char(lead);
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  return Char(cp <= 0xFF ? cp : '?');  // the grid holds Latin-1 only
}

int FdByteSource::Get(int timeoutMs) {
  if (pos_ < len_) return buf_[pos_++];
  if (ended_) return kEnd;
  for (;;) {
    if (timeoutMs >= 0) {
      pollfd p{fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, timeoutMs);
      if (r == 0) return kTimeout;
      if (r < 0) {
        if (errno == EINTR) continue;
        ended_ = true;
        return kEnd;
      }
    }
    const ssize_t n = ::read(fd_, buf_, sizeof buf_);
    if (n > 0) {
      len_ = static_cast<int>(n);
      pos_ = 0;
      return buf_[pos_++];
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking descriptor inherited from the caller: wait properly.
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) == 0) return kTimeout;
      continue;
    }
    ended_ = true;
    return kEnd;
  }
}

}  // namespace svfit::console::detail
