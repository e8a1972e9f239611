// The link-settings model on real pseudo-terminals: the command-line options, when the
// port is reopened and on which device, and the values the worker reads.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LinkSettings.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "link/Tsigs.h"
#include "tests/app/PtyPorts.h"

namespace {

using zv::test::PtyPorts;
using Lines = std::vector<std::string>;

struct ArgCase {
    const char* name;
    Lines args;
    std::vector<int> missing;  // ports whose device does not exist
    Lines opens;               // devices opened, in order
    int port, speed, parity;
    std::string station, source;
    Lines pending;
    std::string error;  // UTF-8; empty: no error
    unsigned baud = 0;  // line speed the open port was set to, 0: not checked
};

void PrintTo(const ArgCase& c, std::ostream* os) { *os << c.name; }

class ProcessArguments : public testing::TestWithParam<ArgCase> {};

TEST_P(ProcessArguments, SetsQueuesAndOpens) {
    const ArgCase& c = GetParam();
    PtyPorts ports(c.missing);
    Tsiocom port;
    LinkSettings settings(port);
    TPendingLines pending;

    std::optional<std::string> error;
    try {
        settings.ProcessArguments(c.args, pending);
    } catch (const zv::Error& e) {
        error = e.what();
    }

    if (c.error.empty()) {
        EXPECT_FALSE(error) << *error;
        EXPECT_TRUE(port.IsOpen());
    } else {
        EXPECT_EQ(error.value_or("(none)"), zv::msg::Cp(c.error));
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(ports.Opens(), c.opens);
    const auto v = settings.Get();
    EXPECT_EQ(v.port, c.port);
    EXPECT_EQ(v.speed, c.speed);
    EXPECT_EQ(v.parity, c.parity);
    EXPECT_EQ(v.timeout, "290");
    EXPECT_FALSE(v.rts);
    EXPECT_EQ(v.station, c.station);
    EXPECT_EQ(v.source, c.source);
    EXPECT_EQ(Lines(pending.begin(), pending.end()), c.pending);
    if (c.baud != 0) {
        EXPECT_EQ(ports.Speed(c.port + 1), c.baud);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, ProcessArguments,
    testing::Values(
        ArgCase{"NoArguments", {}, {}, {"COM1"}, 0, 7, 0, "127", "100", {}, "", 38400},
        ArgCase{"SpeedSpelling", {"b57600", "B56700", "b9600.0"}, {}, {"COM1"}, 0, 8, 0,
                "127", "100", {"b57600", "b9600.0"}, "", 57600},
        ArgCase{"NearMissesAndLinesQueuedInOrder",
                {"COM10", "#init.cmd", "m3", "I000000", "p3f9", "", "b", "i5"}, {}, {"COM1"},
                0, 7, 0, "127", "100",
                {"COM10", "#init.cmd", "m3", "I000000", "p3f9", "", "b", "i5"}, "", 38400},
        ArgCase{"PortSpeedParityOpenedOnceAtTheEnd", {"com2", "b19200", "m2"}, {}, {"COM2"},
                1, 5, 2, "127", "100", {}, "", 19200},
        ArgCase{"LaterOptionWins", {"COM3", "i3", "b2400", "B384000", "m1", "M0"}, {},
                {"COM2"}, 1, 13, 0, "127", "100", {}, "", 384000},
        ArgCase{"PortAliases", {"P2F8", "p3f8"}, {}, {"COM1"}, 0, 7, 0, "127", "100", {}, ""},
        ArgCase{"EmptyStationAddressReopens", {"D"}, {}, {"COM1", "COM1"}, 0, 7, 0, "", "100",
                {}, ""},
        ArgCase{"AnyTextAfterS", {"Stop"}, {}, {"COM1", "COM1"}, 0, 7, 0, "127", "top", {}, ""},
        ArgCase{"AddressReopensWithSettingsSoFar", {"d5", "COM3"}, {}, {"COM1", "COM3"}, 2, 7,
                0, "5", "100", {}, ""},
        ArgCase{"UnchangedAddressDoesNotReopen", {"d127", "s100", "COM2"}, {}, {"COM2"}, 1, 7,
                0, "127", "100", {}, ""},
        ArgCase{"EachAddressChangeReopens", {"m1", "d5", "COM2", "S7", "x", "d5"}, {},
                {"COM1", "COM2", "COM2"}, 1, 7, 1, "5", "7", {"x"}, ""},
        // An open that fails in an address option ends the processing: no later option,
        // no queueing, no final apply.
        ArgCase{"AddressOptionCannotOpen", {"I000000", "d5", "COM3", "J"}, {1}, {}, 0, 7, 0,
                "5", "100", {"I000000"}, "Port COM1 nelze vybrat."},
        ArgCase{"FailedReopenLeavesPortClosed", {"d5", "COM2", "S1", "COM3"}, {2}, {"COM1"}, 1,
                7, 0, "5", "1", {}, "Port COM2 nelze vybrat."},
        ArgCase{"FinalApplyCannotOpen", {"COM3", "I000000"}, {3}, {}, 2, 7, 0, "127", "100",
                {"I000000"}, "Port COM3 nelze vybrat."}),
    [](const testing::TestParamInfo<ArgCase>& info) { return std::string(info.param.name); });

// The values the worker reads at each telegram, with the exchange's fallbacks.
TEST(LinkSettings, WorkerReadsWithFallbacks) {
    Tsiocom port;
    LinkSettings settings(port);
    EXPECT_EQ(settings.StationAddress(), 127);
    EXPECT_EQ(settings.SourceAddress(), 100);
    EXPECT_EQ(settings.ReplyTimeout(), 290);

    struct {
        const char* text;
        std::int32_t station, source, timeout;
    } const cases[] = {
        {"", 127, 100, 260},      {"abc", 127, 100, 260},  {"$7F", 127, 127, 127},
        {"0x7F", 127, 127, 127},  {"5 ", 127, 100, 260},   {" 5", 5, 5, 5},
        {"500", 500, 500, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        settings.SetStation(c.text);
        settings.SetSource(c.text);
        settings.SetTimeout(c.text);
        EXPECT_EQ(settings.StationAddress(), c.station);
        EXPECT_EQ(settings.SourceAddress(), c.source);
        EXPECT_EQ(settings.ReplyTimeout(), c.timeout);
    }
}

// Each apply closes and opens once with the current values; a speed text that is no
// number falls back to 38400.
TEST(LinkSettings, ComPortChangeReopensWithCurrentValues) {
    PtyPorts ports;
    Tsiocom port;
    LinkSettings settings(port);
    settings.SetPort(1);
    settings.SetSpeed(3);
    settings.SetParity(0);
    settings.COMportChange();
    EXPECT_EQ(ports.Opens(), Lines{"COM2"});
    EXPECT_EQ(ports.Speed(2), 9600u);

    settings.SetSpeed(-1);  // no selection: empty text
    settings.COMportChange();
    EXPECT_EQ(ports.Opens(), Lines{"COM2"});
    EXPECT_EQ(ports.Speed(2), 38400u);
    EXPECT_TRUE(port.IsOpen());
}

// "@speed" through the front end's hook: both calls run inside it, the selection is
// announced, and Open's error reaches the caller (the worker's job).
TEST(LinkSettings, SpeedCommandRunsOnTheFrontEnd) {
    PtyPorts ports;
    Tsiocom port;
    LinkSettings settings(port);
    TPendingLines pending;
    settings.ProcessArguments({}, pending);
    ASSERT_EQ(ports.Opens(), Lines{"COM1"});

    std::vector<std::thread::id> ranOn;
    std::vector<int> announced;
    settings.RunOnFrontEnd = [&](const std::function<void()>& call) {
        std::exception_ptr raised;
        std::thread frontEnd([&] {
            ranOn.push_back(std::this_thread::get_id());
            try {
                call();
            } catch (...) {
                raised = std::current_exception();
            }
        });
        frontEnd.join();
        if (raised) std::rethrow_exception(raised);
    };
    settings.SpeedSelected = [&](int index) {
        announced.push_back(index);
        EXPECT_EQ(settings.SpeedIndex(), index);  // already selected when announced
    };

    settings.SelectSpeed(9);
    EXPECT_EQ(settings.SpeedIndex(), 9);
    EXPECT_EQ(announced, std::vector<int>{9});
    EXPECT_TRUE(ports.Opens().empty());  // selecting alone leaves the port as it is

    settings.ApplySettings();
    EXPECT_EQ(ports.Opens(), Lines{"COM1"});
    EXPECT_EQ(ports.Speed(1), 76800u);
    ASSERT_EQ(ranOn.size(), 2u);
    EXPECT_NE(ranOn[0], std::this_thread::get_id());

    ::setenv("ZAVLO384_COM1", "/nonexistent/zavlo384-COM1", 1);
    try {
        settings.ApplySettings();
        ADD_FAILURE() << "no error";
    } catch (const zv::Error& e) {
        EXPECT_EQ(std::string(e.what()), zv::msg::PortNelzeVybrat("COM1"));
    }
    EXPECT_FALSE(port.IsOpen());

    // Without a hook of the front end's, both run directly.
    settings.RunOnFrontEnd = nullptr;
    ::setenv("ZAVLO384_COM1", ports.Device(1).c_str(), 1);
    settings.SelectSpeed(7);
    settings.ApplySettings();
    EXPECT_EQ(ports.Speed(1), 38400u);
    EXPECT_EQ(announced, (std::vector<int>{9, 7}));
}

}  // namespace
