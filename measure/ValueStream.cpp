// Packet payload extraction and the nibble decoder shared by the live display, the tests and the demo
// sensors.
#include "measure/ValueStream.h"

#include "core/Decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Digits beyond this many in one part would overflow the accumulator; such a number is dropped.
constexpr int kMaxDigits = 18;

struct tNumber {
    std::int64_t Integer = 0;
    std::int64_t Fraction = 0;
    int FractionDigits = 0;
    int IntegerDigits = 0;
    bool Negative = false;
    bool InFraction = false;
    bool Overflow = false;
};

// The double nearest to the number as the sensor wrote it: 69.694, not 69.694 made of 69 + 0.694.
double Value(const tNumber& number) {
    const int digits = number.FractionDigits;
    if (digits < int(std::size(kDecimalPowers)) && number.Integer < kExactInteger / kDecimalPowers[digits]) {
        const std::int64_t whole = number.Integer * kDecimalPowers[digits] + number.Fraction;
        // Both exact: one division, correctly rounded.
        if (whole < kExactInteger) return double(whole) / double(kDecimalPowers[digits]);
    }
    char text[48];
    char* end = std::to_chars(text, text + 20, number.Integer).ptr;
    *end++ = '.';
    char fraction[20];
    const char* fractionEnd = std::to_chars(fraction, fraction + sizeof fraction, number.Fraction).ptr;
    const int written = int(fractionEnd - fraction);
    for (int i = written; i < digits; ++i) *end++ = '0';
    end = std::copy(fraction, fraction + (digits > 0 ? written : 0), end);
    double value = 0;
    std::from_chars(text, end, value);
    return value;
}

} // namespace

bool ExtractPayload(const std::uint8_t* packet, std::size_t size, std::vector<std::uint8_t>& payload) {
    if (size < 2 || packet[0] != kPacketStart || packet[size - 1] != kPacketEnd) return false;
    for (std::size_t i = 2; i + 1 < size; ++i) {
        const std::uint8_t byte = packet[i];
        if (byte == kDataEnd) break;
        if (byte >= 0xF0 && byte <= 0xF3) continue;
        payload.push_back(byte);
    }
    return true;
}

bool DecodeValueStream(const std::uint8_t* payload, std::size_t size, int& currentChannel,
                       tChannels& channels) {
    tNumber number;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = payload[i];
        if (byte >= 0xD0 && byte <= 0xDF) {
            currentChannel = byte & 0x0F;
            number = tNumber();
            continue;
        }
        if (byte == kSensorLost) return false;
        if (byte == kDataEnd) break;
        if (byte >= 0xF0) continue;
        for (const int nibble : {byte >> 4, byte & 0x0F}) {
            if (nibble <= 9) {
                if (number.InFraction) {
                    if (++number.FractionDigits > kMaxDigits)
                        number.Overflow = true;
                    else
                        number.Fraction = number.Fraction * 10 + nibble;
                } else {
                    if (++number.IntegerDigits > kMaxDigits)
                        number.Overflow = true;
                    else
                        number.Integer = number.Integer * 10 + nibble;
                }
            } else if (nibble == 0xA) {
                number.Negative = true;
            } else if (nibble == 0xB) {
                number.InFraction = true;
            } else if (nibble == 0xE) {
                number.Negative = false;
            } else if (nibble == 0xC) {
                if (!number.Overflow) {
                    const double value = Value(number);
                    channels[std::size_t(currentChannel)].push_back(number.Negative ? -value : value);
                }
                number = tNumber();
                break;
            }
        }
    }
    return true;
}

void EncodeValue(double value, int decimals, std::vector<std::uint8_t>& out) {
    // A sensor's number has a decimal point whatever the user's locale: never the C library's formatting.
    char text[400];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, std::clamp(decimals, 0, 17));
    const char* end = written.ec == std::errc() ? written.ptr : text;
    std::vector<std::uint8_t> nibbles;
    for (const char* p = text; p != end; ++p) {
        if (*p == '-')
            nibbles.push_back(0xA);
        else if (*p == '.')
            nibbles.push_back(0xB);
        else if (*p >= '0' && *p <= '9')
            nibbles.push_back(std::uint8_t(*p - '0'));
    }
    nibbles.push_back(0xC);
    // An end nibble in the high half gets a filler low nibble, so the byte still ends the group.
    if (nibbles.size() % 2) nibbles.push_back(0xF);
    for (std::size_t i = 0; i < nibbles.size(); i += 2)
        out.push_back(std::uint8_t(nibbles[i] << 4 | nibbles[i + 1]));
}
