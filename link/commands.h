// The tracker's one-byte command set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The last model text the tracker returned (or "err0").
extern std::string modelString;

// 1 once a reply line starts with "OK". 0 when a reply read failed, or when
// 10 seconds of other answers passed: the link is then closed and the user
// has been told "Tracker not responding".
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
// is true only when the whole reply arrived, in the 1024 form ended by LF CR,
// and no byte followed it. A reply that ends otherwise, or with bytes behind
// it, delivers no entry at all: its bytes cannot be told from noise.
// entriesArrived, when given, gets how many leading entries were delivered.
// lineWasBusy, when given, is set when bytes were waiting as this block was
// asked for: the reply before it was longer than its block (this block is
// then failed as well).
bool ReadFlashBlock(int address, int32_t block[16], int* entriesArrived = nullptr,
                    bool* lineWasBusy = nullptr);
// False when the two acknowledgement bytes did not both arrive: the user has
// then been told and the link is closed, as after a failed reply line.
bool WriteFlashByte(int address, uint8_t value);
void StartTransmit();
