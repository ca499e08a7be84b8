// The four settings objects a port owns. Each has a back-link OwnerPort (none for an object a
// caller creates on its own). Setters follow the component's rule: equal value, nothing;
// otherwise store, then ask OwnerPort to re-apply the object's group.
#pragma once

#include <cstdint>

#include "runtime/Sys.h"
#include "serial/ComTypes.h"

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

class TComTimeouts : public TPersistent {
 public:
  explicit TComTimeouts(TComX* owner = nullptr) : ownerPort_(owner) {}
  const char* ClassName() const override { return "TComTimeouts"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return ownerPort_; }

  std::int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(std::int32_t v);
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(std::int32_t v);
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(std::int32_t v);
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(std::int32_t v);
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(std::int32_t v);

 private:
  void Changed();
  TComX* ownerPort_;
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

class TComFlowControl : public TPersistent {
 public:
  explicit TComFlowControl(TComX* owner = nullptr) : ownerPort_(owner) {}
  const char* ClassName() const override { return "TComFlowControl"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return ownerPort_; }

  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool v);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool v);
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl v);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl v);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool v);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool v);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool v);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool v);
  std::uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(std::uint8_t v);
  std::uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(std::uint8_t v);

 private:
  void Changed();
  TComX* ownerPort_;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
};

class TComParity : public TPersistent {
 public:
  explicit TComParity(TComX* owner = nullptr) : ownerPort_(owner) {}
  const char* ClassName() const override { return "TComParity"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return ownerPort_; }

  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits v);
  bool Check() const { return check_; }
  void SetCheck(bool v);
  bool Replace() const { return replace_; }
  void SetReplace(bool v);
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(std::uint8_t v);

 private:
  void Changed();
  TComX* ownerPort_;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

class TComBuffer : public TPersistent {
 public:
  explicit TComBuffer(TComX* owner = nullptr) : ownerPort_(owner) {}
  const char* ClassName() const override { return "TComBuffer"; }
  void CopyTo(TPersistent& dest) const override;
  TComX* OwnerPort() const { return ownerPort_; }

  std::uint32_t InputSize() const { return inputSize_; }
  void SetInputSize(std::uint32_t v);
  std::uint32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(std::uint32_t v);

 private:
  void Changed();
  TComX* ownerPort_;
  std::uint32_t inputSize_ = 1024;
  std::uint32_t outputSize_ = 1024;
};
