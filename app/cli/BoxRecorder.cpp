#include "app/cli/BoxRecorder.h"

#include <utility>

#include "app/ReadBack.h"

namespace cli {

namespace {

// Appends what fits under the limit; true when something had to be left out.
bool AppendBounded(std::string& text, std::string_view more, std::size_t limit) {
  const std::size_t room = limit > text.size() ? limit - text.size() : 0;
  text.append(more.substr(0, room));
  return more.size() > room;
}

}  // namespace

BoxRecorder::BoxRecorder(std::string host, std::string port, std::string device,
                         bool withConfiguration, bool readBackOn)
    : created_(Moment::Now()) {
  record_.readBackOn = readBackOn;
  record_.host = std::move(host);
  record_.port = std::move(port);
  record_.device = std::move(device);
  record_.withConfiguration = withConfiguration;
}

double BoxRecorder::Seconds(const Moment& from, const Moment& to) {
  return std::chrono::duration<double>(to.steady - from.steady).count();
}

void BoxRecorder::Progressed(const app::RunProgress& progress) {
  switch (progress.step) {
    case app::RunStep::PortOpened:
      if (!opened_) opened_ = Moment::Now();
      break;
    case app::RunStep::Ready:
      if (!ready_) ready_ = Moment::Now();
      break;
    case app::RunStep::PortClosed:
      if (eraseSent_ && !closed_) closed_ = Moment::Now();
      break;
    default:
      break;
  }
}

void BoxRecorder::Received(std::string_view text) {
  if (!firstWord_) firstWord_ = Moment::Now();
  if (!sentAnything_) {
    record_.bootTextCut |= AppendBounded(record_.bootText, text, kBootTextLimit);
    return;
  }
  if (!eraseSent_ || replyDone_) return;
  record_.replyCut |= AppendBounded(record_.reply, text, kReplyLimit);
}

void BoxRecorder::Sent(std::string_view bytes) {
  sentAnything_ = true;
  const bool lineFeed = bytes.size() == 1 && bytes[0] == '\n';
  if (!lineFeed && !eraseSent_) {
    // The first line the tool writes is the erase line; its read-back and the display's
    // correction follow.
    record_.command = std::string(bytes);
    eraseSent_ = Moment::Now();
  } else if (!lineFeed) {
    const std::optional<app::FlashRange> range = app::EraseRangeOf(record_.command);
    if (range && bytes == app::ReadBackCommand(*range)) {
      record_.readBackCommand = std::string(bytes);
      replyDone_ = true;
    }
  } else if (eraseSent_ && (record_.command.empty() || record_.command.back() != '\n')) {
    record_.command.push_back('\n');
  }
}

void BoxRecorder::Checked(const app::EraseVerdict& verdict) {
  record_.verdict = verdict;
  record_.readBackOn = verdict.readBackOn;
  // The window's own reply knows where the erase line's answer ended.
  record_.reply = verdict.reply.substr(0, kReplyLimit);
  record_.replyCut = verdict.replyCut || verdict.reply.size() > kReplyLimit;
  replyDone_ = true;
}

void BoxRecorder::NoteError(const BoxError& error) {
  if (!record_.error) record_.error = error;
}

BoxRecord BoxRecorder::Finish(int status, const std::string& message) {
  const Moment end = Moment::Now();
  BoxRecord r = record_;
  // A Box is on the bench from its first word; one that never spoke, from the port's opening.
  const Moment& start = firstWord_ ? *firstWord_ : opened_ ? *opened_ : *created_;
  r.start = start.wall;
  r.end = end.wall;
  r.status = status;
  r.message = message;
  if (firstWord_ && ready_) r.wakingSeconds = Seconds(*firstWord_, *ready_);
  if (eraseSent_) r.erasingSeconds = Seconds(*eraseSent_, closed_ ? *closed_ : end);
  return r;
}

}  // namespace cli
