// The value stream: packet payloads and the nibble decoder, as table rows.
#include "core/Decimal.h"
#include "measure/ValueStream.h"
#include "support/QtPrint.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> bytes;
    for (const int b : list) bytes.push_back(std::uint8_t(b));
    return bytes;
}

} // namespace

TEST(ValueStream, DecodesTheSensorsNumbers) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> payload;
        int channelBefore;
        int channelAfter;
        std::vector<double> values; // on channelAfter
        bool lost;
    } rows[] = {
        {"12.5", Bytes({0x12, 0xB5, 0xC0}), 0, 0, {12.5}, false},
        {"minus three", Bytes({0xA3, 0xC0}), 0, 0, {-3}, false},
        {"channel two", Bytes({0xD2, 0x7C}), 0, 2, {7}, false},
        {"channel kept", Bytes({0x7C}), 2, 2, {7}, false},
        {"plus resets the sign", Bytes({0xAE, 0x4C}), 0, 0, {4}, false},
        {"end in high nibble ignores low", Bytes({0x21, 0xC9, 0x3C}), 0, 0, {21, 3}, false},
        {"channel select drops the number begun", Bytes({0x12, 0xD1, 0x5C}), 0, 1, {5}, false},
        {"unfinished number is lost", Bytes({0x12, 0x34}), 0, 0, {}, false},
        {"lost sensor after two values", Bytes({0x1C, 0x2C, 0xF6, 0x3C}), 0, 0, {1, 2}, true},
        {"control bytes skipped", Bytes({0xF4, 0x1F, 0xF5, 0xC0, 0xF8}), 0, 0, {1}, false},
        {"end of data", Bytes({0x1C, 0xF7, 0x2C}), 0, 0, {1}, false},
        {"fraction with leading zeros", Bytes({0x0B, 0x05, 0xC0}), 0, 0, {0.05}, false},
        {"ignored nibbles D and F", Bytes({0x1F, 0x2C}), 0, 0, {12}, false},
        {"too many digits dropped",
         Bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90, 0xC0, 0x5C}),
         0,
         0,
         {5},
         false},
        // The double nearest to what the sensor wrote, whose shortest text is that again.
        {"69.694 as written", Bytes({0x69, 0xB6, 0x94, 0xCF}), 0, 0, {69.694}, false},
        {"2.805 as written", Bytes({0x2B, 0x80, 0x5C}), 0, 0, {2.805}, false},
        {"eighteen places",
         Bytes({0x1B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xCF}),
         0,
         0,
         {1.000000000000000001},
         false},
        {"large and fine",
         Bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0xB3, 0x4C}),
         0,
         0,
         {123456789012.34},
         false},
        {"eighteen digits kept",
         Bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0xCF}),
         0,
         0,
         {123456789012345678.0},
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tChannels channels;
        int channel = row.channelBefore;
        EXPECT_EQ(DecodeValueStream(row.payload.data(), row.payload.size(), channel, channels), !row.lost);
        EXPECT_EQ(channel, row.channelAfter);
        ASSERT_EQ(channels[size_t(row.channelAfter)].size(), row.values.size());
        for (size_t i = 0; i < row.values.size(); ++i)
            EXPECT_EQ(channels[size_t(row.channelAfter)][i], row.values[i]);
    }
}

TEST(ValueStream, TheMeanOfDecimalsIsTheDecimalMean) {
    const struct {
        std::vector<double> values;
        double mean;
    } rows[] = {
        {{20.1, 20.2}, 20.15},
        {{0.1, 0.2, 0.3}, 0.2},
        {{-0.1, -0.3}, -0.2},
        {{69.694}, 69.694},
        {{1, 2, 2}, 5.0 / 3},
        {{0.123456789, 0.123456791}, 0.12345679},
        {{1e300, 1e300}, 1e300}, // not a decimal of nine places: as doubles
        {{0.1 + 0.2, 0.3}, (0.1 + 0.2 + 0.3) / 2},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DecimalMean(row.values.data(), row.values.size()), row.mean) << row.values[0];
}

TEST(ValueStream, PayloadOfAPacket) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> packet;
        bool accepted;
        std::vector<std::uint8_t> payload;
    } rows[] = {
        {"thread-built", Bytes({0xFE, 7, 0xF0, 0x12, 0xB5, 0xC0, 0xF7, 0xF7, 0xFF}), true,
         Bytes({0x12, 0xB5, 0xC0})},
        {"skips F0 to F3", Bytes({0xFE, 0, 0xF1, 0x1C, 0xF3, 0x2C, 0xFF}), true, Bytes({0x1C, 0x2C})},
        {"keeps F4 and F6", Bytes({0xFE, 0, 0xF0, 0xF4, 0xF6, 0xFF}), true, Bytes({0xF4, 0xF6})},
        {"no data", Bytes({0xFE, 0, 0xF0, 0xF7, 0xFF}), true, {}},
        {"wrong start", Bytes({0xFD, 0, 0xF0, 0x1C, 0xFF}), false, {}},
        {"wrong end", Bytes({0xFE, 0, 0xF0, 0x1C, 0xF7}), false, {}},
        {"empty", {}, false, {}},
        {"two bytes", Bytes({0xFE, 0xFF}), true, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::uint8_t> payload;
        EXPECT_EQ(ExtractPayload(row.packet.data(), row.packet.size(), payload), row.accepted);
        EXPECT_EQ(payload, row.payload);
    }
}

TEST(ValueStream, EncodedValuesDecodeBackAndEndTheirGroup) {
    const double values[] = {0, 21.5, -3, 1234.56, -0.07, 99999.99};
    for (const int decimals : {0, 1, 2, 3}) {
        std::vector<std::uint8_t> stream;
        for (const double v : values) EncodeValue(v, decimals, stream);
        tChannels channels;
        int channel = 0;
        DecodeValueStream(stream.data(), stream.size(), channel, channels);
        ASSERT_EQ(channels[0].size(), std::size(values));
        const double scale = std::pow(10.0, decimals);
        for (size_t i = 0; i < std::size(values); ++i)
            EXPECT_NEAR(channels[0][i], std::round(values[i] * scale) / scale, 1e-9) << values[i];
        EXPECT_TRUE(EndsGroup(stream.back()));
    }
}
