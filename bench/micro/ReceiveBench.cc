// Micro-benchmark of the receive path: bytes per second through the controller's
// staging, line events, prompt and "done" detection, fed from memory in chunks of
// a given size, so a regression in the scan shows without a network or a device.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "controller/Controller.h"
#include "ports/PortBackend.h"
#include "ports/PortSource.h"

namespace {

// Serves one reply from memory, `chunk` bytes per read, and is always connected.
class FeedPort : public PortSourceUtils::PortBackend {
 public:
  FeedPort(const std::string& reply, size_t chunk) : mReply(reply), mChunk(chunk) {}

  void Connect() override {}
  bool IsConnected() override { return true; }
  std::string LookAhead() override {
    return mReply.substr(mOffset, std::min(mChunk, mReply.size() - mOffset));
  }
  std::string Read(int32_t count) override {
    std::string out = mReply.substr(mOffset, static_cast<size_t>(count));
    mOffset += out.size();
    return out;
  }
  std::string ReadAll() override { return Read(static_cast<int32_t>(mReply.size())); }
  void Write(const std::string&) override {}
  void Purge(int32_t) override { mOffset = mReply.size(); }
  void Poll() override {}
  int32_t LastErrorCode() override { return 0; }
  void Close() override {}
  void WaitForData(int32_t, const PortSourceUtils::WaitCue&) override {}

 private:
  const std::string& mReply;
  size_t mChunk;
  size_t mOffset = 0;
};

// 20,000 record lines of 44 bytes, then "done" and the prompt.
std::string RecordReply() {
  std::string reply;
  for (int n = 1; n <= 20000; ++n) {
    const std::string number = std::to_string(n);
    reply.push_back('R');
    reply.append(6 - std::min<size_t>(6, number.size()), '0');
    reply.append(number);
    reply.append(",2026-01-01 00:00:00,12.34,5.67,890\r\n");
  }
  reply.append("done\r\nPELOX>");
  return reply;
}

// 1 MiB without a line feed (a binary dump), then "done" and the prompt.
std::string UnbrokenReply() {
  std::string reply(1024 * 1024, 'x');
  for (size_t i = 0; i < reply.size(); i += 97) reply[i] = 'P';  // near-misses of the prompt
  reply.append("\r\ndone\r\nPELOX>");
  return reply;
}

void Receive(benchmark::State& state, const std::string& reply) {
  const size_t chunk = static_cast<size_t>(state.range(0));
  Controller controller;
  size_t handed = 0;
  controller.RawDataAvailable = [&handed](Controller& c) { handed += c.ReadRawData().size(); };
  controller.GotPrompt = [&handed](Controller& c) { handed += c.ReadRawData().size(); };
  for (auto _ : state) {
    controller.mPort =
        std::make_unique<PortSourceUtils::PortSource>(std::make_unique<FeedPort>(reply, chunk));
    if (controller.waitForDonePrompt("PELOX>", 25, 13) != 1) {
      state.SkipWithError("the reply's \"done\" and prompt were not recognised");
      break;
    }
  }
  benchmark::DoNotOptimize(handed);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(reply.size()));
}

void BM_ReceiveRecords(benchmark::State& state) {
  static const std::string reply = RecordReply();
  Receive(state, reply);
}

void BM_ReceiveUnbroken(benchmark::State& state) {
  static const std::string reply = UnbrokenReply();
  Receive(state, reply);
}

}  // namespace

// Chunk sizes: a serial read at a low rate, one TCP segment, one full read block.
BENCHMARK(BM_ReceiveRecords)->Arg(16)->Arg(1460)->Arg(65536);
BENCHMARK(BM_ReceiveUnbroken)->Arg(1460)->Arg(65536);

BENCHMARK_MAIN();
