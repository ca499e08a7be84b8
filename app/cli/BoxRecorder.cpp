#include "app/cli/BoxRecorder.h"

#include <utility>

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
                         bool withConfiguration)
    : created_(Moment::Now()) {
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
  // The console's prompt ends the reply, by the rule the window itself goes by.
  if (app::AppendAndFindPrompt(replyLine_, text)) replyDone_ = true;
}

void BoxRecorder::Sent(std::string_view bytes) {
  sentAnything_ = true;
  const bool lineFeed = bytes.size() == 1 && bytes[0] == '\n';
  if (!lineFeed) {
    record_.command = std::string(bytes);
    if (!eraseSent_) eraseSent_ = Moment::Now();
  } else if (eraseSent_ && (record_.command.empty() || record_.command.back() != '\n')) {
    record_.command.push_back('\n');
  }
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
