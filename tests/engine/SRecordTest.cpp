// The pure download helpers: record checks, block payloads and their CRC.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/Error.h"
#include "common/Messages.h"
#include "engine/BlockCrc.h"
#include "engine/SRecord.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The CRC as its definition reads, one bit at a time.
std::uint16_t BitwiseCrc(const Bytes& data) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int i = 0; i < 8; ++i) {
            const bool out = crc & 0x8000;
            crc = static_cast<std::uint16_t>(crc << 1);
            if (out) crc ^= 0xB599;
        }
    }
    return crc;
}

std::uint16_t Crc(const Bytes& b) { return zv::BlockCrc(b.data(), b.size()); }

TEST(BlockCrc, CheckValuesAndTheBitwiseDefinition) {
    EXPECT_EQ(Crc(B("123456789")), 0x61C6);
    EXPECT_EQ(Crc(B("abc")), 0x1D05);
    EXPECT_EQ(Crc({}), 0x0000);

    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(rng() % 160);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(Crc(data), BitwiseCrc(data)) << "length " << data.size();
        // Continuing over a split gives the CRC of the whole.
        const std::size_t cut = data.empty() ? 0 : rng() % data.size();
        const std::uint16_t head = zv::BlockCrc(data.data(), cut);
        EXPECT_EQ(zv::BlockCrc(data.data() + cut, data.size() - cut, head), Crc(data));
    }
}

std::string ErrorOf(const std::string& line) {
    zv::S2Record r;
    try {
        zv::ParseS2Record(line, r);
    } catch (const zv::Error& e) {
        return e.what();
    }
    return "";
}

TEST(S2Record, ValidRecordsConvert) {
    zv::S2Record r;
    zv::ParseS2Record("S2080100000011223390", r);
    EXPECT_EQ(r.address, 0x010000);
    ASSERT_EQ(r.count, 4);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 4), (Bytes{0x00, 0x11, 0x22, 0x33}));

    zv::ParseS2Record("S208abcdefdeadbeef58", r);  // lower-case digits
    EXPECT_EQ(r.address, 0xABCDEF);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));

    zv::ParseS2Record("S204FFFFFFFE", r);  // count 04: no data
    EXPECT_EQ(r.address, 0xFFFFFF);
    EXPECT_EQ(r.count, 0);

    // The longest record: count FF, 251 data bytes.
    std::string longest = "S2FF123456";
    unsigned sum = 0xFF + 0x12 + 0x34 + 0x56;
    for (int i = 0; i < 251; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", i);
        longest += pair;
        sum += static_cast<unsigned>(i);
    }
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", (~sum) & 0xFF);
    longest += cs;
    zv::ParseS2Record(longest, r);
    EXPECT_EQ(r.count, 251);
    EXPECT_EQ(r.data[250], 250);
}

TEST(S2Record, ChecksAndTheirOrder) {
    const std::string bad = zv::msg::VadnyRadek;
    struct Case {
        std::string line, error;
    } cases[] = {
        {"S20801000000112233", bad + "S20801000000112233"},        // check sum missing
        {"S208010000001122339", bad + "S208010000001122339"},      // a digit missing
        {"S2080100000011223390 ", bad + "S2080100000011223390 "},  // trailing blank
        {" S2080100000011223390", bad + " S2080100000011223390"},  // leading blank
        {"S2080100000011223391", bad + "S2080100000011223391"},    // wrong check sum
        {"S2030100000000", bad + "S2030100000000"},                // count below 4
        {"S1080100000011223390", bad + "S1080100000011223390"},    // another type
        {"s2080100000011223390", bad + "s2080100000011223390"},
        {"S204FFFFFF", bad + "S204FFFFFF"},                        // 10 characters
        // Conversion errors name the field; the address is read before the count.
        {"S20801G0000011223390", "'0x01G000' is not a valid integer value"},
        {"S2ZZ01G0000011223390", "'0x01G000' is not a valid integer value"},
        {"S2ZZ0100000011223390", "'0xZZ' is not a valid integer value"},
        {"S2 80100000011223390", "'0x 8' is not a valid integer value"},
        // Data and sum are converted only once the length agrees with the count.
        {"S208010000001122x390", "'0xx3' is not a valid integer value"},
        {"S208010000001122339-", "'0x9-' is not a valid integer value"},
        {"S20901000000112x3390", bad + "S20901000000112x3390"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.line), c.error) << c.line;
}

zv::BlockMap MapOf(std::initializer_list<std::pair<int, int>> runs) {
    zv::BlockMap m{};
    for (auto [from, to] : runs)
        for (int j = from; j <= to; ++j) m[static_cast<std::size_t>(j / 8)] |= static_cast<std::uint8_t>(1u << (j % 8));
    return m;
}

Bytes WithCrc(Bytes b) {
    const std::uint16_t crc = Crc(b);
    b.push_back(static_cast<std::uint8_t>(crc));
    b.push_back(static_cast<std::uint8_t>(crc >> 8));
    return b;
}

Bytes PayloadOf(const zv::BlockPayload& p) { return Bytes(p.bytes.begin(), p.bytes.begin() + static_cast<long>(p.size)); }

TEST(BlockPayload, SBlokByteForByte) {
    zv::BlockData data;
    for (int j = 0; j < 128; ++j) data[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(j ^ 0x5A);
    zv::BlockPayload p;

    // A full window: count 0x80.
    zv::BuildBlockPayload(0x123480, MapOf({{0, 127}}), data, p);
    Bytes expected{0x73, 0x80, 0x34, 0x12, 0x80};
    for (int j = 0; j < 128; ++j) expected.push_back(static_cast<std::uint8_t>(j ^ 0x5A));
    EXPECT_EQ(p.form, zv::BlockForm::S);
    EXPECT_EQ(p.first, 0);
    EXPECT_EQ(PayloadOf(p), WithCrc(expected));
    EXPECT_EQ(p.size, 135u);

    // One byte at the window's last index: the address is that byte's.
    zv::BuildBlockPayload(0x000100, MapOf({{127, 127}}), data, p);
    EXPECT_EQ(p.first, 127);
    EXPECT_EQ(PayloadOf(p), WithCrc({0x73, 0x7F, 0x01, 0x00, 0x01, 127 ^ 0x5A}));

    // Only the low 24 bits of an address past the 24-bit space travel.
    zv::BuildBlockPayload(0x1000080, MapOf({{2, 3}}), data, p);
    EXPECT_EQ(PayloadOf(p), WithCrc({0x73, 0x82, 0x00, 0x00, 0x02, 2 ^ 0x5A, 3 ^ 0x5A}));
}

TEST(BlockPayload, NBlokByteForByte) {
    zv::BlockData data;
    data.fill(0xFF);
    data[3] = 0xA1;
    data[4] = 0xA2;
    data[9] = 0xB1;
    data[127] = 0xC1;
    zv::BlockPayload p;
    zv::BuildBlockPayload(0x004480, MapOf({{3, 4}, {9, 9}, {127, 127}}), data, p);
    EXPECT_EQ(p.form, zv::BlockForm::N);
    EXPECT_EQ(p.first, 3);
    Bytes expected{0x6E, 0x80, 0x44, 0x00,
                   0x18, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80,
                   0xA1, 0xA2, 0xB1, 0xC1};
    EXPECT_EQ(PayloadOf(p), WithCrc(expected));

    // The longest n-blok: every byte but one in the middle.
    data.fill(0x11);
    zv::BuildBlockPayload(0x000080, MapOf({{0, 63}, {65, 127}}), data, p);
    EXPECT_EQ(p.size, zv::BlockPayload::kMaxSize);
}

TEST(BlockPayload, DecodesWhatItBuildsAndRefusesDamage) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        zv::BlockMap map{};
        // Mixed densities: a few runs, or random bits.
        if (round % 2) {
            const int a = static_cast<int>(rng() % 128), b = a + static_cast<int>(rng() % (128 - a));
            map = MapOf({{a, b}});
        } else {
            for (auto& m : map) m = static_cast<std::uint8_t>(rng() & rng());
        }
        if (map == zv::BlockMap{}) map[5] = 1;
        zv::BlockData data;
        data.fill(0xFF);
        for (int j = 0; j < 128; ++j)
            if ((map[static_cast<std::size_t>(j / 8)] >> (j % 8)) & 1) data[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(rng());
        const std::int32_t base = static_cast<std::int32_t>((rng() % 0x20000) << 7);
        zv::BlockPayload p;
        zv::BuildBlockPayload(base, map, data, p);
        auto d = zv::DecodeBlockPayload(p.bytes.data(), p.size);
        ASSERT_TRUE(d.has_value()) << round;
        EXPECT_EQ(d->form, p.form);
        EXPECT_EQ(d->base, static_cast<std::uint32_t>(base) & 0xFFFFFFu);
        EXPECT_EQ(d->map, map);
        EXPECT_EQ(d->data, data);

        Bytes bytes = PayloadOf(p);
        bytes[rng() % bytes.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        EXPECT_FALSE(zv::DecodeBlockPayload(bytes.data(), bytes.size()).has_value()) << round;
        bytes = PayloadOf(p);
        bytes.push_back(0);
        EXPECT_FALSE(zv::DecodeBlockPayload(bytes.data(), bytes.size()).has_value());
        EXPECT_FALSE(zv::DecodeBlockPayload(bytes.data(), p.size - 1).has_value());
    }
    // An s-blok that would run into the next window, and an unknown form.
    const Bytes crossing = WithCrc({0x73, 0x7F, 0x00, 0x01, 0x02, 1, 2});
    EXPECT_FALSE(zv::DecodeBlockPayload(crossing.data(), crossing.size()).has_value());
    const Bytes other = WithCrc({0x74, 0x00, 0x00, 0x01, 0x01, 1});
    EXPECT_FALSE(zv::DecodeBlockPayload(other.data(), other.size()).has_value());
}

}  // namespace
