// The four settings objects. Copies go straight into the destination's values so that the
// destination's port is not asked to re-apply anything; the port's object-valued setters
// re-apply once themselves after the copy.
#include "serial/ComSettings.h"

#include <string>

namespace {

// The setter rule shared by every value: equal, nothing; otherwise store and have the owning
// port re-apply the group.
template <typename T>
void Assign(T& field, T value, const OwnerLink& owner) {
  if (field == value) return;
  field = value;
  if (owner.Reapply) owner.Reapply();
}

// The destination of a copy from source: an object of source's class or of one derived from
// it; any other fails with the assignment error.
template <typename T>
T& CopyTarget(const T& source, TPersistent& dest) {
  auto* d = dynamic_cast<T*>(&dest);
  if (!d) ThrowAssignError(&source, dest);
  return *d;
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
  CopyTarget(*this, dest).values_ = values_;
}
void TComTimeouts::SetReadInterval(std::int32_t v) {
  Assign(values_.ReadInterval, v, owner_);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t v) {
  Assign(values_.ReadTotalMultiplier, v, owner_);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t v) {
  Assign(values_.ReadTotalConstant, v, owner_);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v) {
  Assign(values_.WriteTotalMultiplier, v, owner_);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t v) {
  Assign(values_.WriteTotalConstant, v, owner_);
}

// --- TComFlowControl ------------------------------------------------------------------------

void TComFlowControl::CopyTo(TPersistent& dest) const {
  CopyTarget(*this, dest).values_ = values_;
}
void TComFlowControl::SetOutCTSFlow(bool v) {
  Assign(values_.OutCTSFlow, v, owner_);
}
void TComFlowControl::SetOutDSRFlow(bool v) {
  Assign(values_.OutDSRFlow, v, owner_);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
  Assign(values_.ControlDTR, v, owner_);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
  Assign(values_.ControlRTS, v, owner_);
}
void TComFlowControl::SetXonXoffOut(bool v) {
  Assign(values_.XonXoffOut, v, owner_);
}
void TComFlowControl::SetXonXoffIn(bool v) {
  Assign(values_.XonXoffIn, v, owner_);
}
void TComFlowControl::SetDSRSensitivity(bool v) {
  Assign(values_.DSRSensitivity, v, owner_);
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
  Assign(values_.TxContinueOnXoff, v, owner_);
}
void TComFlowControl::SetXonChar(std::uint8_t v) {
  Assign(values_.XonChar, v, owner_);
}
void TComFlowControl::SetXoffChar(std::uint8_t v) {
  Assign(values_.XoffChar, v, owner_);
}

// --- TComParity -----------------------------------------------------------------------------

void TComParity::CopyTo(TPersistent& dest) const {
  CopyTarget(*this, dest).values_ = values_;
}
void TComParity::SetBits(TParityBits v) {
  Assign(values_.Bits, v, owner_);
}
void TComParity::SetCheck(bool v) {
  Assign(values_.Check, v, owner_);
}
void TComParity::SetReplace(bool v) {
  Assign(values_.Replace, v, owner_);
}
void TComParity::SetReplaceChar(std::uint8_t v) {
  Assign(values_.ReplaceChar, v, owner_);
}

// --- TComBuffer -----------------------------------------------------------------------------

void TComBuffer::CopyTo(TPersistent& dest) const {
  CopyTarget(*this, dest).values_ = values_;
}
void TComBuffer::SetInputSize(std::uint32_t v) {
  Assign(values_.InputSize, v, owner_);
}
void TComBuffer::SetOutputSize(std::uint32_t v) {
  Assign(values_.OutputSize, v, owner_);
}
