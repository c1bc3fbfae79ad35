#pragma once
// The wire side of a run: the output set-up command, the 3200-byte stream packet with its
// bit-plane samples, and the device's replies.

#include <cstdint>

constexpr int kPacketBytes = 3200;
constexpr int kPacketBlocks = 50;
constexpr int kBlockBytes = 64;
constexpr int kSetupBytes = 4;
// Byte 2 of block 5 carries this marker in every packet.
constexpr int kPacketMarkerOffset = 322;
constexpr unsigned char kPacketMarker = 0x45;
// The longest device reply ("S" status).
constexpr int kLongestReply = 15;

// The packet buffer; only the play thread fills it.
extern unsigned char g_nSendPacket[kPacketBytes];

// Timer reload value of the set-up command for the loaded signal on the connected device:
// trunc(65536 - 6000000 / rate + offset), base 59536 for the maker's format. False (reload
// unchanged) for rate 0 or a value outside 0..65535.
bool CalcReloadValue(uint16_t& reload);
// 0x00, reload high, reload low, range byte. False (command unchanged) as CalcReloadValue.
bool BuildOutputSetup(unsigned char* command);

// Bit planes of one raw frame into width bytes (12 or 16): byte i holds bit (width-1-i) of
// the eight codes, channel c in bit c.
void EncodeSample(const int* frame, int width, unsigned char* out);

// Fills g_nSendPacket from g_nSampleCurrent on, advancing the play position, the noise index
// and sequence (one per block). Sets playing to 0 when a record without looping ends; the
// rest of the packet then repeats the last frame.
void BuildPacket(unsigned char& sequence, int& playing);
// BuildPacket, then writes the packet. Returns the count the device write reported (0 when
// it timed out or no device is open).
int SendPacket(unsigned char& sequence, int& playing);

// Handles the reply at reply (length bytes available) and returns the first byte after it.
// Returns reply itself when the reply is cut off and needs more bytes; an unknown byte is
// skipped alone. "N" wakes the play thread; "X" is queued for the delay callback, which the
// output consumer calls.
unsigned char* ResponseHandling(unsigned char* reply, int length);
