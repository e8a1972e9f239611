// A "!" line against the last reply, and the judgement of a text command's reply. The
// input is split in two by its first byte: the line's text or the command, then the reply.
// Only zv::Error escapes, and each verdict agrees with what the reply holds.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "Check.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/ScriptLine.h"

namespace {

// The verdict: empty when the call returned, else the raised text.
template <typename F>
std::pair<bool, std::string> Run(F&& f) {
    try {
        f();
    } catch (const zv::Error& e) {
        return {false, e.what()};
    }
    return {true, {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t cut = std::min<std::size_t>(data[0], size - 1);
    const std::string first(reinterpret_cast<const char*>(data + 1), cut);
    const std::string reply(reinterpret_cast<const char*>(data + 1 + cut), size - 1 - cut);

    {  // the reply check, with `first` as the text after the "!"
        const auto [ok, what] = Run([&] { zv::CheckReply(first, reply); });
        const std::size_t bang = first.find('!');
        const std::string expected = first.substr(0, bang);
        const bool found = !expected.empty() && reply.find(expected) != std::string::npos;
        ZV_FUZZ_CHECK(ok == found);
        if (!ok && bang == std::string::npos) ZV_FUZZ_CHECK(what == Raised(zv::msg::NespravnaOdpovedReply + reply));
        if (!ok && bang != std::string::npos) {
            // The line's own text: what follows the second "!", or the whole check when
            // nothing does; never the standard message with the reply.
            const std::string own = first.substr(bang + 1);
            ZV_FUZZ_CHECK(what == Raised(own.empty() ? first : own));
        }
    }

    {  // the judgement, with `first` as the command as sent
        const auto [ok, what] = Run([&] { zv::JudgeReply(first, reply); });
        const bool negative = reply.find_first_of("!?") != std::string::npos;
        const bool endRecord = first.size() >= 12 && first.rfind("S8", 0) == 0;
        const bool star = reply.find('*') != std::string::npos;
        ZV_FUZZ_CHECK(ok == (!reply.empty() && !negative && (!endRecord || star)));
        if (reply.empty()) ZV_FUZZ_CHECK(what == zv::msg::PrazdnaOdpoved);
        else if (negative) ZV_FUZZ_CHECK(what == zv::msg::NegativniOdpoved);
        else if (!ok) ZV_FUZZ_CHECK(what == Raised(zv::msg::NespravnaOdezva + reply));
    }
    return 0;
}
