// What the window knows about one tracker: where each setting lives in the
// tracker and how its bytes convert to what the window shows.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Settings memory addresses.
enum NvAddress : uint8_t {
  kNvIdString = 0,      // 8 bytes
  kNvSerialDigits = 8,  // 4 bytes
  kNvOptionFlags = 16,
  kNvShutdownHigh = 17,
  kNvShutdownLow = 18,
  kNvTransmitInterval = 32,
  kNvStoreInterval = 33,
  kNvTransmitSlot = 34,
  kNvSerialHigh = 128,
  kNvSerialLow = 129,
};

// Battery count registers.
constexpr uint8_t kRegisterBatteryHigh = 70;
constexpr uint8_t kRegisterBatteryLow = 71;

// The eight bytes at the start of an intact settings memory; no terminator.
constexpr std::array<char, 8> kIdString = {'K', 'L', 'X', 'T', 'X', ',', 'I', 'D'};

double voltsFromCount(uint16_t count);

// The shutdown voltage text as a count for addresses 17 and 18, held to the
// ten bits those can store (below 0 gives 0, 1024 and more give 1023).
int countFromVoltsText(const std::string& text);

// The highest voltage the window takes: the count 1023 shows as 6.59.
constexpr double kHighestShutdownVolts = 6.59;
// True when text is one decimal number from 0.00 to 6.59 (blanks around it
// allowed): a value the tracker's ten bits store as what was typed.
bool isStorableVoltsText(const std::string& text);

// The eight flag members in bit order, bit 0 (wrapMemory) first.
using OptionFlagMembers = std::array<int*, 8>;
void unpackOptionFlags(uint8_t flags, const OptionFlagMembers& members);
uint8_t packOptionFlags(const OptionFlagMembers& members);

// The first four characters of the "%04d" rendering of the serial number.
std::array<char, 4> serialDigits(uint32_t serialNumber);

// The radio's nine parameters, in the order Read queries them.
enum RadioParameter { kSL, kSH, kHP, kID, kMK, kDT, kRO, kRN, kRR, kRadioParameterCount };
extern const std::array<const char*, kRadioParameterCount> kRadioParameterNames;

// printf into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
