#include "app/App.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/ExitRequest.h"
#include "app/LogLevel.h"
#include "app/RunJournal.h"
#include "app/StopSignals.h"
#include "app/Version.h"
#include "base/Clock.h"
#include "base/DialogueWords.h"
#include "base/NumberText.h"
#include "base/WriteAll.h"
#include "config/Configuration.h"
#include "controller/Controller.h"
#include "options/OptionParser.h"
#include "ports/PortSourceUtils.h"
#include "recovery/RecordLog.h"

App::App(Seams seams)
    : mClock(seams.clock),
      mPortFactory(std::move(seams.portFactory)),
      mLogOutput(std::move(seams.logOutput)),
      mProgress(seams.clock) {}

App::~App() = default;

void App::LogNewMessage(const std::string& severity, const std::string& text) {
  LogLevel::Ranked message = LogLevel::Rank(severity);
  if (std::strcmp(message.name, "FATAL") == 0 && !mFirstFatal) mFirstFatal = text;
  if (message.rank > LogLevel::Rank(mLogLevel).rank) return;
  logBuffer += mClock.LocalTimeText() + ": (" + message.name + ") : " + text + "\n";
  if (LogMessageAvailable) LogMessageAvailable(*this);
}

void App::HandleLogMessageAvailable(App&) {
  mProgress.Erase();
  WriteError(logBuffer);
  logBuffer.clear();
}

void App::AttachLogOutput() {
  LogMessageAvailable = [this](App& sender) { HandleLogMessageAvailable(sender); };
}

void App::WriteError(const std::string& text) {
  if (mLogOutput)
    mLogOutput(text);
  else
    WriteAll(STDERR_FILENO, text);  // when standard error is gone, nothing else can be told
}

void App::ShowOnStdout(const std::string& text) {
  // Through stdio, in order with the help text the option parser writes there.
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void App::QuitWithPause(int32_t code) {
  LogNewMessage("DEBUG", "Done.");
  throw ExitRequest{code};
}

void App::Fatal(const std::string& text) {
  LogNewMessage("FATAL", text);
  QuitWithPause(1);
}

std::string App::TakeRawData() {
  std::string raw = mController->ReadRawData();
  // The head of it may be on disk already (see WriteToSession).
  std::string_view fresh(raw);
  fresh.remove_prefix(std::min(mWrittenAhead, raw.size()));
  mWrittenAhead = 0;
  if (outstream) mUnwritten += fresh;
  return raw;
}

void App::WriteToSession() {
  if (!outstream || !outstream->IsOpen()) return;
  // A line the controller is still gathering is written as well, without taking
  // it: the controller hands it over whole later, and only the rest is written then.
  if (mController && mController->rawBuffer.size() > mWrittenAhead) {
    mUnwritten.append(mController->rawBuffer, mWrittenAhead);
    mWrittenAhead = mController->rawBuffer.size();
  }
  if (mUnwritten.empty()) return;
  const bool written = outstream->Append(mUnwritten);
  mUnwritten.clear();  // keeps its capacity for the next chunk
  if (!written) Fatal("Unable to write the raw download session: " + outstream->ErrorText());
}

void App::HandleRawDataAvailable(Controller&) {
  std::string raw = TakeRawData();
  mProgress.Add(raw);
  if (raw.find(DialogueWords::kRecordsLogged) != std::string::npos) {
    LogNewMessage("INFO", "logs cmd response1:" + raw);
    auto blank = raw.rfind(' ');
    std::string last = blank == std::string::npos ? raw : raw.substr(blank + 1);
    // 0 when the field does not begin with a number; clamped, never wrapped.
    mController->mRecordsLogged = NumberText::LeadingInt32(last);
  }
  static const std::string kNext = DialogueWords::kNextDownload;
  if (size_t at = raw.find(kNext); at != std::string::npos) {
    LogNewMessage("INFO", "logs cmd response2:" + raw);
    mNextDownload =
        NumberText::LeadingInt32Checked(std::string_view(raw).substr(at + kNext.size()));
  }
}

void App::HandleGotPrompt(Controller&) {
  std::string raw = TakeRawData();
  mProgress.Add(raw);
  WriteToSession();
}

bool App::FinishSession() {
  mProgress.End();
  if (!outstream) return true;
  // Bytes not written yet: what was gathered from the last chunk and what the
  // controller still holds; then, unless "quit" was sent, what the port
  // received after it (a run stopped between two reads). After "quit" nothing
  // more is read: whatever the controller answers to it would land in the file
  // or not depending on timing.
  if (mController) TakeRawData();
  if (!mUnwritten.empty()) outstream->Append(mUnwritten);
  mUnwritten.clear();
  if (mController && mController->mPort && !mQuitSent) {
    try {
      mController->mPort->Poll();  // take what the OS holds for us as well
      std::string rest = mController->mPort->ReadAll();
      if (!rest.empty()) outstream->Append(rest);
    } catch (const BaseError&) {
      // A broken link holds nothing more to read.
    }
  }
  bool ok = outstream->Close();
  mSessionBytes = outstream->BytesWritten();
  std::string error = outstream->ErrorText();
  outstream.reset();
  if (!ok) LogNewMessage("FATAL", "Unable to store the raw download session: " + error);
  return ok;
}

void App::ProcessPendingEvents() {
  WriteToSession();
  if (mStopping) return;
  if (int signal = StopSignals::Pending(); signal != 0) {
    mStopping = true;
    mStopSignalled = true;
    Fatal(std::string("Stopped by ") + StopSignals::Name(signal) +
          "; the session file keeps every byte received.");
  }
  // Measured from the run's start, the same reading the journal's duration uses.
  if (mRunTimeLimit > 0 && mClock.MonotonicMs() - mStartMonoMs > int64_t{mRunTimeLimit} * 1000) {
    mStopping = true;
    Fatal("Run time limit reached: RunTimeLimit is " + std::to_string(mRunTimeLimit) +
          " s; the session file keeps every byte received.");
  }
}

void App::WriteRunJournal(int32_t status) {
  if (!mPaths || mJournalWritten) return;
  mJournalWritten = true;
  const std::string path = mPaths->RunJournal().NativePath();
  int err = 0;
  try {
    RunRecord r;
    r.deployment = mPaths->folder.Name();
    r.start = mStartWall;
    r.end = mClock.WallSeconds();
    r.durationSeconds = static_cast<double>(mClock.MonotonicMs() - mStartMonoMs) / 1000.0;
    r.status = status;
    namespace Outcome = RunJournalFormat::Outcome;
    r.outcome = mStopSignalled ? Outcome::kStopped
                : mNoPrompt    ? Outcome::kNoPrompt
                : status == 0  ? Outcome::kComplete
                               : Outcome::kFatal;
    r.fatal = mFirstFatal;
    r.session = mSessionName;
    r.sessionBytes = mSessionName ? mSessionBytes : 0;
    r.version = Version::LongVersion;
    r.nextDownload = mNextDownload;
    if (mController) {
      if (!mController->Settings().portName.empty()) r.port = mController->Settings().portName;
      if (mController->mRecordsLogged >= 0) r.recordsLogged = mController->mRecordsLogged;
      r.getdataRequests = mController->mRequestCounts.getdata;
      r.getlogRequests = mController->mRequestCounts.getlog;
      r.recordsRequested = mController->mRequestCounts.records;
    }
    err = RunJournal::Append(path, RunJournal::Line(r));
  } catch (const std::exception&) {
    err = ENOMEM;
  }
  if (err != 0)
    LogNewMessage("WARNING",
                  "Unable to write the run journal " + path + ": " + RunJournal::FailureText(err));
}
