// The check of one "S2" data record line. Whatever the line, the check either accepts it
// or raises zv::Error; an accepted record written out again (upper-case digits) gives
// the same line apart from the case of its hexadecimal digits.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Check.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/SRecord.h"

namespace {

std::string Encode(const zv::S2Record& r) {
    const unsigned cc = static_cast<unsigned>(r.count) + 4;
    const auto a = static_cast<unsigned>(r.address);
    unsigned sum = cc + (a & 0xFF) + ((a >> 8) & 0xFF) + ((a >> 16) & 0xFF);
    char buf[16];
    std::snprintf(buf, sizeof buf, "S2%02X%06X", cc, a);
    std::string line = buf;
    for (int i = 0; i < r.count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", r.data[static_cast<std::size_t>(i)]);
        line += buf;
        sum += r.data[static_cast<std::size_t>(i)];
    }
    std::snprintf(buf, sizeof buf, "%02X", ~sum & 0xFFu);
    return line + buf;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    zv::S2Record record;
    try {
        zv::ParseS2Record(line, record);
    } catch (const zv::Error& e) {
        const std::string what = e.what();
        // The two failures a record line has: the bad line, or a field that isn't hex,
        // named by its own characters: the address, the count, or a data or sum byte.
        if (what == Raised(zv::msg::VadnyRadek + line)) return 0;
        auto names = [&](std::size_t pos, std::size_t len) {
            return pos + len <= line.size() && what == Raised(zv::msg::NotValidInteger("0x" + line.substr(pos, len)));
        };
        bool field = names(4, 6) || names(2, 2);
        for (std::size_t pos = 10; pos + 2 <= line.size() && !field; pos += 2) field = names(pos, 2);
        ZV_FUZZ_CHECK(field);
        return 0;
    }
    ZV_FUZZ_CHECK(record.count >= 0 && record.count <= zv::S2Record::kMaxData);
    ZV_FUZZ_CHECK(record.address >= 0 && record.address <= 0xFFFFFF);
    ZV_FUZZ_CHECK(line.size() == 12 + 2 * static_cast<std::size_t>(record.count));
    ZV_FUZZ_CHECK(Encode(record) == Upper(line));
    return 0;
}
