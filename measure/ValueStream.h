// The sensors' value stream: packet frame, payload and nibble-coded decimal numbers on 16 channels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

using tChannels = std::array<std::vector<double>, 16>;

enum : std::uint8_t {
    kPacketStart = 0xFE,
    kPacketEnd = 0xFF,
    kDataStart = 0xF0,
    kEmptyRead = 0xF4,
    kSensorLost = 0xF6,
    kDataEnd = 0xF7,
};

// Whether the byte ends a number group: its low nibble is 0xC to 0xF, or it is a control byte (0xF0 and up).
inline bool EndsGroup(std::uint8_t byte) {
    return (byte & 0x0C) == 0x0C || byte >= 0xF0;
}

// The payload of a packet: the bytes from offset 2 up to the last one, stopping at the first 0xF7 and
// skipping 0xF0 to 0xF3. False (and nothing appended) when the packet does not begin with 0xFE and end
// with 0xFF.
bool ExtractPayload(const std::uint8_t* packet, std::size_t size, std::vector<std::uint8_t>& payload);

// Decodes one payload: finished numbers are appended to channels[currentChannel]; a channel-select byte
// changes currentChannel, which the caller keeps from packet to packet. Returns false when the payload
// reported a lost sensor (0xF6); decoding stops there.
bool DecodeValueStream(const std::uint8_t* payload, std::size_t size, int& currentChannel,
                       tChannels& channels);

// Codes one number the way the sensors do: digits, 0xA for a minus, 0xB for the point, 0xC at the end,
// two nibbles to a byte, the last byte padded so that it ends the group.
void EncodeValue(double value, int decimals, std::vector<std::uint8_t>& out);
