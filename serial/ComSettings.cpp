// The four settings objects. Copies go straight into the destination's fields so that the
// destination's port is not asked to re-apply anything; the port's object-valued setters
// re-apply once themselves after the copy.
#include "serial/ComSettings.h"

#include "serial/CportX1.h"

namespace {

// The setter rule shared by every value: equal, nothing; otherwise store and re-apply.
template <typename T, typename Apply>
void Assign(T& field, T value, Apply&& reapply) {
  if (field == value) return;
  field = value;
  reapply();
}

}  // namespace

void ThrowAssignError(const TObject* source, const TObject& dest) {
  throw EConvertError(std::string("Cannot assign a ") + (source ? source->ClassName() : "nil") +
                      " to a " + dest.ClassName());
}

void TPersistent::CopyTo(TPersistent& dest) const {
  ThrowAssignError(this, dest);
}

// --- TComTimeouts ---------------------------------------------------------------------------

void TComTimeouts::CopyTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TComTimeouts*>(&dest);
  if (!d) ThrowAssignError(this, dest);
  d->readInterval_ = readInterval_;
  d->readTotalMultiplier_ = readTotalMultiplier_;
  d->readTotalConstant_ = readTotalConstant_;
  d->writeTotalMultiplier_ = writeTotalMultiplier_;
  d->writeTotalConstant_ = writeTotalConstant_;
}

void TComTimeouts::Changed() {
  if (ownerPort_) ownerPort_->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(std::int32_t v) {
  Assign(readInterval_, v, [this] { Changed(); });
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t v) {
  Assign(readTotalMultiplier_, v, [this] { Changed(); });
}
void TComTimeouts::SetReadTotalConstant(std::int32_t v) {
  Assign(readTotalConstant_, v, [this] { Changed(); });
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v) {
  Assign(writeTotalMultiplier_, v, [this] { Changed(); });
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t v) {
  Assign(writeTotalConstant_, v, [this] { Changed(); });
}

// --- TComFlowControl ------------------------------------------------------------------------

void TComFlowControl::CopyTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TComFlowControl*>(&dest);
  if (!d) ThrowAssignError(this, dest);
  d->outCTSFlow_ = outCTSFlow_;
  d->outDSRFlow_ = outDSRFlow_;
  d->controlDTR_ = controlDTR_;
  d->controlRTS_ = controlRTS_;
  d->xonXoffOut_ = xonXoffOut_;
  d->xonXoffIn_ = xonXoffIn_;
  d->dsrSensitivity_ = dsrSensitivity_;
  d->txContinueOnXoff_ = txContinueOnXoff_;
  d->xonChar_ = xonChar_;
  d->xoffChar_ = xoffChar_;
}

void TComFlowControl::Changed() {
  if (ownerPort_) ownerPort_->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool v) {
  Assign(outCTSFlow_, v, [this] { Changed(); });
}
void TComFlowControl::SetOutDSRFlow(bool v) {
  Assign(outDSRFlow_, v, [this] { Changed(); });
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
  Assign(controlDTR_, v, [this] { Changed(); });
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
  Assign(controlRTS_, v, [this] { Changed(); });
}
void TComFlowControl::SetXonXoffOut(bool v) {
  Assign(xonXoffOut_, v, [this] { Changed(); });
}
void TComFlowControl::SetXonXoffIn(bool v) {
  Assign(xonXoffIn_, v, [this] { Changed(); });
}
void TComFlowControl::SetDSRSensitivity(bool v) {
  Assign(dsrSensitivity_, v, [this] { Changed(); });
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
  Assign(txContinueOnXoff_, v, [this] { Changed(); });
}
void TComFlowControl::SetXonChar(std::uint8_t v) {
  Assign(xonChar_, v, [this] { Changed(); });
}
void TComFlowControl::SetXoffChar(std::uint8_t v) {
  Assign(xoffChar_, v, [this] { Changed(); });
}

// --- TComParity -----------------------------------------------------------------------------

void TComParity::CopyTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TComParity*>(&dest);
  if (!d) ThrowAssignError(this, dest);
  d->bits_ = bits_;
  d->check_ = check_;
  d->replace_ = replace_;
  d->replaceChar_ = replaceChar_;
}

void TComParity::Changed() {
  if (ownerPort_) ownerPort_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits v) {
  Assign(bits_, v, [this] { Changed(); });
}
void TComParity::SetCheck(bool v) {
  Assign(check_, v, [this] { Changed(); });
}
void TComParity::SetReplace(bool v) {
  Assign(replace_, v, [this] { Changed(); });
}
void TComParity::SetReplaceChar(std::uint8_t v) {
  Assign(replaceChar_, v, [this] { Changed(); });
}

// --- TComBuffer -----------------------------------------------------------------------------

void TComBuffer::CopyTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TComBuffer*>(&dest);
  if (!d) ThrowAssignError(this, dest);
  d->inputSize_ = inputSize_;
  d->outputSize_ = outputSize_;
}

void TComBuffer::Changed() {
  if (ownerPort_) ownerPort_->ApplyBufferSettings();
}

void TComBuffer::SetInputSize(std::uint32_t v) {
  Assign(inputSize_, v, [this] { Changed(); });
}
void TComBuffer::SetOutputSize(std::uint32_t v) {
  Assign(outputSize_, v, [this] { Changed(); });
}
