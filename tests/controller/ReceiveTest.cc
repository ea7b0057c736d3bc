// The receive loops: prompt and "done" recognition, events, time-outs, port errors
// and the hand-over of long lines without a line feed.

#include <algorithm>
#include <random>

#include "ControllerFixture.h"
#include "ports/PortSourceUtils.h"

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& suffix) {
  if (suffix.size() > text.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

struct Outcome {
  int32_t rc = 0;
  std::vector<std::string> events;  // as the fixture records them
  std::string rest;                 // left in the buffer at the end
};

// The byte-at-a-time rule the receive loop must match, for a waitForDonePrompt whose
// port drops after the last chunk, with handlers that drain on every event.
Outcome ReferenceDonePrompt(const std::vector<std::string>& chunks, const std::string& prompt) {
  Outcome out;
  std::string buffer;
  bool gotDone = false;
  for (const std::string& chunk : chunks) {
    for (char c : chunk) {
      if ((c == '\n' || c == '\r') && EndsWithIgnoringCase(buffer, "done")) gotDone = true;
      buffer += c;
      if (c == '\n') {
        out.events.push_back("raw:" + buffer);
        buffer.clear();
      } else if (c != '\0' && c != '\r' && EndsWithIgnoringCase(buffer, prompt)) {
        out.events.push_back("raw:" + buffer);
        out.events.push_back("prompt:");
        out.rc = gotDone ? 1 : 2;
        return out;
      }
    }
  }
  out.rest = buffer;
  return out;
}

std::string Concatenated(const std::vector<std::string>& events) {
  std::string all;
  for (const std::string& e : events) all += e.substr(e.find(':') + 1);
  return all;
}

class ReceiveTest : public ControllerFixture {
 protected:
  void Feed(const std::vector<std::string>& chunks) {
    for (const std::string& c : chunks) port->Arrive(c);
    port->connected = true;
    port->dropWhenDrained = true;
  }
};

TEST_F(ReceiveTest, PromptSplitAcrossReadsIsRecognised) {
  Feed({"hello\r\nPEL", "OX>"});
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"raw:hello\r\n", "raw:PELOX>", "prompt:"}));
  EXPECT_EQ(port->purges, std::vector<int32_t>{100});
  EXPECT_TRUE(Logged("DEBUG waitForPrompt: got prompt"));
}

TEST_F(ReceiveTest, PromptMatchesWhateverItsLetterCase) {
  for (const std::string reply : {"pelox>", "PeLoX>", "x\npElOx>"}) {
    Feed({reply});
    EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0) << reply;
  }
}

TEST_F(ReceiveTest, BytesAfterThePromptInTheSameChunkAreDropped) {
  Feed({std::string("a\0b\rcPELOX>junk\r\n", 17), "more"});
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_EQ(captured, std::string("a\0b\rcPELOX>", 11));
  // NUL and carriage return raise nothing; only the prompt ended the data.
  EXPECT_EQ(events.size(), 2u);
  EXPECT_TRUE(controller.rawBuffer.empty());
}

TEST_F(ReceiveTest, AHandlerThatEndsTheRunLeavesTheRestOfTheChunkBuffered) {
  // The first line event stops the run (as a stop signal does); the bytes read
  // with it from the port must stay for the session file's last write.
  struct Stop {};
  controller.RawDataAvailable = [this](Controller& c) {
    Drain("raw", c);
    throw Stop{};
  };
  Feed({"one\r\ntwo\r\nthr"});
  EXPECT_THROW(controller.waitForPrompt("PELOX>", 1, 13), Stop);
  EXPECT_EQ(captured, "one\r\n");
  EXPECT_EQ(controller.ReadRawData(), "two\r\nthr");
}

TEST_F(ReceiveTest, TheTimeOutCountsSilenceNotTheLengthOfTheReply) {
  // Seven chunks 0.9 s apart: far longer than the 1 s time-out in total, never
  // silent that long.
  for (int i = 0; i < 6; ++i) port->Arrive("line\r\n", 900);
  port->Arrive("PELOX>", 900);
  const int64_t begin = clock.MonotonicMs();
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_GE(clock.MonotonicMs() - begin, 6300);
  EXPECT_LT(clock.MonotonicMs() - begin, 6500);
  EXPECT_EQ(events.size(), 8u);

  // 1.1 s of silence after the first line is too long.
  port->Arrive("line\r\n", 900);
  port->Arrive("PELOX>", 1100);
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 1);
  EXPECT_TRUE(Logged("DEBUG waitForPrompt: timed out"));
  EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), 2);  // the prompt was only late
}

TEST_F(ReceiveTest, EveryReadIsOfferedToTheSessionBeforeTheNextWait) {
  // The application writes the session file in its pending-events turn: each
  // read, a partial line included, must reach it before the port waits again,
  // for that wait may gather for a while.
  std::vector<std::pair<int, std::string>> offered;  // (waits so far, bytes so far)
  controller.PendingEvents = [&] {
    offered.emplace_back(port->waits, captured + controller.rawBuffer);
  };
  for (const char* piece : {"rec 1\r\n", "rec", " 2\r\n"}) port->Arrive(piece, 10);
  port->Arrive("PELOX>", 10);
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_EQ(offered, (std::vector<std::pair<int, std::string>>{
                         {1, "rec 1\r\n"}, {2, "rec 1\r\nrec"}, {3, "rec 1\r\nrec 2\r\n"}}));
  EXPECT_EQ(captured, "rec 1\r\nrec 2\r\nPELOX>");
}

TEST_F(ReceiveTest, SilenceTimesOut) {
  port->Arrive("no prompt here\r\n");
  const int64_t begin = clock.MonotonicMs();
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 2, 13), 1);
  EXPECT_GE(clock.MonotonicMs() - begin, 2000);
  EXPECT_LE(clock.MonotonicMs() - begin, 2100);
  EXPECT_TRUE(Logged("DEBUG waitForPrompt: timed out"));
  EXPECT_EQ(captured, "no prompt here\r\n");
  EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 0, 13), 0);
  EXPECT_TRUE(Logged("DEBUG waitForDonePrompt: timed out"));
}

TEST_F(ReceiveTest, APortThatDropsCountsAsTimedOut) {
  Feed({"partial"});
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 5, 13), 1);
  EXPECT_EQ(controller.rawBuffer, "partial");
}

TEST_F(ReceiveTest, DoneCountsOnlyRightBeforeCarriageReturnOrLineFeed) {
  const struct {
    std::string reply;
    int32_t rc;
  } cases[] = {
      {"rec 1\r\ndone\r\nPELOX>", 1},
      {"DONE\nPELOX>", 1},
      {"do", 2},  // completed below across chunks
      {"done PELOX>", 2},
      {"xdoney\r\nPELOX>", 2},
      {"\r\nPELOX>", 2},
  };
  for (const auto& c : cases) {
    if (c.reply == "do") {
      Feed({"do", "ne\r", "PELOX>"});
      EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), 1) << "split done";
      continue;
    }
    Feed({c.reply});
    EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), c.rc) << c.reply;
  }
  EXPECT_TRUE(Logged("DEBUG waitForDonePrompt: got done and prompt"));
  EXPECT_TRUE(Logged("DEBUG waitForDonePrompt: got prompt"));
}

TEST_F(ReceiveTest, MatchesTheByteAtATimeRuleOnRandomInput) {
  std::mt19937 random(12345);
  const std::string alphabet("PELOX>pelox>done\r\n\0ab", 22);
  const std::vector<std::string> prompts = {"PELOX>", ">", "done"};
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> chunks(1 + random() % 6);
    for (std::string& chunk : chunks) {
      const size_t length = 1 + random() % 12;
      for (size_t i = 0; i < length; ++i) chunk += alphabet[random() % alphabet.size()];
    }
    const std::string& prompt = prompts[random() % prompts.size()];
    const Outcome expected = ReferenceDonePrompt(chunks, prompt);
    events.clear();
    controller.ReadRawData();
    Feed(chunks);
    EXPECT_EQ(controller.waitForDonePrompt(prompt, 5, 13), expected.rc);
    EXPECT_EQ(events, expected.events) << "round " << round;
    port->pending.clear();
  }
}

TEST_F(ReceiveTest, LongLinesAreHandedOverWithoutLosingThePromptAcrossTheCut) {
  const size_t cut = Controller::kMaxBytesWithoutEvent;
  // "PEL" ends exactly at the cut; "OX>" follows in the same chunk.
  Feed({std::string(cut - 3, 'x') + "PELOX>"});
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(captured, std::string(cut - 3, 'x') + "PELOX>");

  // The same with the cut between two reads and "done" straddling it.
  events.clear();
  captured.clear();
  Feed({std::string(cut - 2, 'y') + "do", "ne\r\nPELOX>"});
  EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), 1);
  EXPECT_EQ(captured, std::string(cut - 2, 'y') + "done\r\nPELOX>");
}

TEST_F(ReceiveTest, StreamWithoutLineFeedsKeepsTheBufferBounded) {
  std::string sent;
  for (int i = 0; i < 30; ++i) {
    std::string chunk(10000, static_cast<char>('a' + i % 20));
    sent += chunk;
    port->Arrive(chunk);
  }
  port->dropWhenDrained = true;
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 1);
  captured += controller.ReadRawData();
  EXPECT_EQ(captured, sent);  // every byte handed over exactly once
  EXPECT_LE(largestBuffer, Controller::kMaxBytesWithoutEvent);
  EXPECT_EQ(events.size(), sent.size() / Controller::kMaxBytesWithoutEvent);
}

TEST_F(ReceiveTest, CutsMatchTheByteAtATimeRuleOnRandomInput) {
  std::mt19937 random(777);
  const std::string pieces[] = {"PELOX>", "PEL", "OX>", "done", "\r", "\n", "x"};
  for (int round = 0; round < 25; ++round) {
    std::string input(Controller::kMaxBytesWithoutEvent - 8 + random() % 16, 'z');
    while (input.size() < 3 * Controller::kMaxBytesWithoutEvent) {
      input += pieces[random() % 7];
      if (random() % 8 == 0) input.append(Controller::kMaxBytesWithoutEvent - random() % 16, 'z');
    }
    std::vector<std::string> chunks;
    for (size_t at = 0; at < input.size();) {
      const size_t length = 1 + random() % 50000;
      chunks.push_back(input.substr(at, length));
      at += length;
    }
    const Outcome expected = ReferenceDonePrompt(chunks, "PELOX>");
    events.clear();
    controller.ReadRawData();
    Feed(chunks);
    EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 5, 13), expected.rc) << "round " << round;
    const std::string got = Concatenated(events) + controller.rawBuffer;
    const std::string want = Concatenated(expected.events) + expected.rest;
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    EXPECT_TRUE(got == want) << "round " << round << ": " << got.size() << " bytes handed over, "
                             << want.size() << " expected, first difference at "
                             << (diff.first - got.begin());
    port->pending.clear();
  }
}

TEST_F(ReceiveTest, WithoutSubscribersEverythingStaysInTheBuffer) {
  controller.RawDataAvailable = nullptr;
  controller.GotPrompt = nullptr;
  const std::string data = std::string(200000, 'q') + "\r\nPELOX>";
  Feed({data});
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), 0);
  EXPECT_EQ(controller.ReadRawData(), data);
  EXPECT_EQ(controller.ReadRawData(), "");
}

// Error paths.

TEST_F(ReceiveTest, NotConnectedAtStartGivesMinusOne) {
  port->connected = false;
  port->lastError = -5;
  std::string shown;
  controller.ConsoleSink = [&shown](const std::string& text) { shown += text; };
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), -1);
  EXPECT_EQ(shown, "waitforprompt, socket/port not connected at start\n");
  EXPECT_TRUE(Logged("DEBUG waitForPrompt port/socket error:-5"));

  EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), -1);
  EXPECT_TRUE(Logged("WARNING waitfordoneprompt, socket/port not connected at start"));
  EXPECT_TRUE(Logged("DEBUG waitForDonePrompt port/socket error:-5"));
}

TEST_F(ReceiveTest, ReadErrorGivesMinusOne) {
  port->Arrive("abc\r\n");
  port->FailLookAhead(-104);
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), -1);
  EXPECT_TRUE(Logged("DEBUG waitForPrompt port/socket error:-104"));
  EXPECT_EQ(captured, "abc\r\n");

  port->FailLookAhead(-104);
  EXPECT_EQ(controller.waitForDonePrompt("PELOX>", 1, 13), -1);
  EXPECT_TRUE(Logged("WARNING waitfordoneprompt, unspecified error in port .Lookahead()"));
  EXPECT_TRUE(Logged("DEBUG waitForDonePrompt port/socket error:-104"));
}

TEST_F(ReceiveTest, NoPortAtAllIsNotConnected) {
  controller.mPort.reset();
  testing::internal::CaptureStdout();
  EXPECT_EQ(controller.waitForPrompt("PELOX>", 1, 13), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(Logged("DEBUG waitForPrompt port/socket error:0"));
}

}  // namespace
