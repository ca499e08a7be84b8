// The four settings objects a port owns. Each has a back-link OwnerPort (none for an object a
// caller creates on its own). Setters follow the component's rule: equal value, nothing;
// otherwise store, then have the owning port re-apply the object's group.
//
// The values themselves are plain structs (SettingsValues.h): a copy between objects is one
// assignment, and the driver blocks are built from the values, not from the objects.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/Sys.h"
#include "serial/ComTypes.h"
#include "serial/SettingsValues.h"

class TComX;

class TPersistent : public TObject {
 public:
  const char* ClassName() const override { return "TPersistent"; }
  // Copies this object's values into dest's fields (not through its setters). Fails with
  // EConvertError "Cannot assign a <this class> to a <dest class>" unless dest is of this
  // class or derived from it.
  virtual void CopyTo(TPersistent& dest) const;
};

// Throws EConvertError for an assignment from nullptr ("nil") or a foreign class.
[[noreturn]] void ThrowAssignError(const TObject* source, const TObject& dest);

// What a settings object knows of the port that owns it: the port (OwnerPort) and how that
// port re-applies the object's group. The port hands both in when it makes its objects; an
// object a caller makes on its own has neither, and its setters only store.
struct OwnerLink {
  TComX* Port = nullptr;
  std::function<void()> Reapply;
};

class TComTimeouts : public TPersistent {
 public:
  explicit TComTimeouts(OwnerLink owner = {}) : owner_(std::move(owner)) {}
  const char* ClassName() const override { return "TComTimeouts"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return owner_.Port; }
  const TimeoutValues& Values() const { return values_; }

  std::int32_t ReadInterval() const { return values_.ReadInterval; }
  void SetReadInterval(std::int32_t v);
  std::int32_t ReadTotalMultiplier() const { return values_.ReadTotalMultiplier; }
  void SetReadTotalMultiplier(std::int32_t v);
  std::int32_t ReadTotalConstant() const { return values_.ReadTotalConstant; }
  void SetReadTotalConstant(std::int32_t v);
  std::int32_t WriteTotalMultiplier() const { return values_.WriteTotalMultiplier; }
  void SetWriteTotalMultiplier(std::int32_t v);
  std::int32_t WriteTotalConstant() const { return values_.WriteTotalConstant; }
  void SetWriteTotalConstant(std::int32_t v);

 private:
  OwnerLink owner_;
  TimeoutValues values_;
};

class TComFlowControl : public TPersistent {
 public:
  explicit TComFlowControl(OwnerLink owner = {}) : owner_(std::move(owner)) {}
  const char* ClassName() const override { return "TComFlowControl"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return owner_.Port; }
  const FlowControlValues& Values() const { return values_; }

  bool OutCTSFlow() const { return values_.OutCTSFlow; }
  void SetOutCTSFlow(bool v);
  bool OutDSRFlow() const { return values_.OutDSRFlow; }
  void SetOutDSRFlow(bool v);
  TDTRFlowControl ControlDTR() const { return values_.ControlDTR; }
  void SetControlDTR(TDTRFlowControl v);
  TRTSFlowControl ControlRTS() const { return values_.ControlRTS; }
  void SetControlRTS(TRTSFlowControl v);
  bool XonXoffOut() const { return values_.XonXoffOut; }
  void SetXonXoffOut(bool v);
  bool XonXoffIn() const { return values_.XonXoffIn; }
  void SetXonXoffIn(bool v);
  bool DSRSensitivity() const { return values_.DSRSensitivity; }
  void SetDSRSensitivity(bool v);
  bool TxContinueOnXoff() const { return values_.TxContinueOnXoff; }
  void SetTxContinueOnXoff(bool v);
  std::uint8_t XonChar() const { return values_.XonChar; }
  void SetXonChar(std::uint8_t v);
  std::uint8_t XoffChar() const { return values_.XoffChar; }
  void SetXoffChar(std::uint8_t v);

 private:
  OwnerLink owner_;
  FlowControlValues values_;
};

class TComParity : public TPersistent {
 public:
  explicit TComParity(OwnerLink owner = {}) : owner_(std::move(owner)) {}
  const char* ClassName() const override { return "TComParity"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return owner_.Port; }
  const ParityValues& Values() const { return values_; }

  TParityBits Bits() const { return values_.Bits; }
  void SetBits(TParityBits v);
  bool Check() const { return values_.Check; }
  void SetCheck(bool v);
  bool Replace() const { return values_.Replace; }
  void SetReplace(bool v);
  std::uint8_t ReplaceChar() const { return values_.ReplaceChar; }
  void SetReplaceChar(std::uint8_t v);

 private:
  OwnerLink owner_;
  ParityValues values_;
};

class TComBuffer : public TPersistent {
 public:
  explicit TComBuffer(OwnerLink owner = {}) : owner_(std::move(owner)) {}
  const char* ClassName() const override { return "TComBuffer"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return owner_.Port; }
  const BufferValues& Values() const { return values_; }

  std::uint32_t InputSize() const { return values_.InputSize; }
  void SetInputSize(std::uint32_t v);
  std::uint32_t OutputSize() const { return values_.OutputSize; }
  void SetOutputSize(std::uint32_t v);

 private:
  OwnerLink owner_;
  BufferValues values_;
};
