// The component's enumerations and sets. Ordinals are positions from 0; each value is one byte.
// Their driver values live with the code that fills the driver blocks (DcbBuilder).
#pragma once

#include <cstdint>
#include <initializer_list>

enum TPortType : std::uint8_t { COM1, COM2, COM3, COM4, COM5, COM6, COM7, COM8 };

enum TBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200
};

enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

enum TEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};

enum TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};

enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TLineSignal : std::uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };

// A set of enumeration values held as a bit mask, bit n for ordinal n.
template <typename E, typename Bits>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr EnumSet FromBits(Bits bits) {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr EnumSet& Include(E v) {
    bits_ |= Bit(v);
    return *this;
  }
  constexpr EnumSet& Exclude(E v) {
    bits_ &= static_cast<Bits>(~Bit(v));
    return *this;
  }
  friend constexpr bool operator==(EnumSet a, EnumSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr Bits Bit(E v) { return static_cast<Bits>(Bits{1} << static_cast<int>(v)); }
  Bits bits_ = 0;
};

using TEvents = EnumSet<TEvent, std::uint16_t>;
using TComErrors = EnumSet<TComError, std::uint8_t>;
using TLineSignals = EnumSet<TLineSignal, std::uint8_t>;

inline constexpr TEvents kAllEvents = TEvents::FromBits(0x03FF);
