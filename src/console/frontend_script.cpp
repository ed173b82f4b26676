// The script front end, used whenever standard input is not a terminal: keys
// are the bytes of standard input, the screen is a UTF-8 transcript on
// standard output (form in crt.h).
//
// It is built for driving the program over pipes (`svfit < answers.txt`, or
// an expect-style program answering prompt by prompt): output is flushed
// before every key read; keys are read only when the program waits for one,
// so KeyPressed never consumes answers meant for later prompts; waits and
// tones are skipped; the finishing step does not wait. When input ends while
// a key is awaited the program stops with exit code 3 and "input ended" on
// standard error: a truncated script can neither hang nor loop.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "console/crt_model.h"
#include "console/key_decoder.h"

namespace svfit::console::detail {
namespace {

class ScriptFrontend final : public Frontend {
 public:
  void Wait(Console& c, int timeoutMs) override {
    std::fflush(stdout);
    for (;;) {
      const DecodedKey k = decoder_.Next(input_, timeoutMs);
      switch (k.kind) {
        case DecodedKey::kChar:
          c.DeliverKey(k.code, kShiftUnknown);
          return;
        case DecodedKey::kExtended:
          c.DeliverExtended(k.code, k.shift);
          return;
        case DecodedKey::kIgnored:
          continue;
        case DecodedKey::kTimeout:
          return;
        case DecodedKey::kEnd:
          if (c.transcript) c.transcript->Finish(c.grid);
          std::fflush(stdout);
          std::fputs("input ended\n", stderr);
          Exit(c, 3);
      }
    }
  }
  [[noreturn]] void Exit(Console&, int code) override {
    std::fflush(stdout);
    std::exit(code);
  }

 private:
  FdByteSource input_{0};
  KeyDecoder decoder_;
};

}  // namespace

std::unique_ptr<Frontend> MakeScriptFrontend(Console& c) {
  // A reader that went away must not kill the run with SIGPIPE; the output
  // is then simply lost.
  std::signal(SIGPIPE, SIG_IGN);
  c.transcript = std::make_unique<Transcript>(
      [](std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); });
  c.grid.transcript = c.transcript.get();
  return std::make_unique<ScriptFrontend>();
}

}  // namespace svfit::console::detail
