// The tracker's one-byte command set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The last model text the tracker returned (or "err0").
extern std::string modelString;

int Ping();
uint8_t ReadNvByte(uint8_t address);
int WriteNvByte(uint8_t address, uint8_t value);
uint8_t ReadRegisterByte(uint8_t address);
// The number the version reply starts with (0 when it starts with none); 999
// when the command could not be sent or no reply came. replyIsNumber, when
// given, tells whether the reply began with a decimal number: a device that is
// no tracker answers with other text.
int GetVersion(bool* replyIsNumber = nullptr);
std::string GetModel();
int EnterRadioCommandMode();
std::string RadioAtCommand(const std::string& text);
// The first character of the size reply; nullopt when no reply came.
std::optional<char> GetMemorySize();
void EraseFlash();
// Reads one block at address into block (16 entries; the short form fills
// 0..7). Entries whose bytes did not arrive are left as they were; the result
// is true only when the whole reply arrived. entriesArrived, when given,
// gets how many leading entries were delivered.
bool ReadFlashBlock(int address, int32_t block[16], int* entriesArrived = nullptr);
void WriteFlashByte(int address, uint8_t value);
void StartTransmit();
