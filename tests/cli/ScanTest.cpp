// vexil-download --scan end to end, inside the private network namespace of in_netns.sh: one
// simulator plays forty print servers in 192.0.2.0/24 (some silent, one of another model, one
// whose replies are not valid, versions mixed); the scan of the whole block lists them as the
// table and as JSON, writes the targets file of the model's print servers, and a staged fleet
// run from that file updates those not current until its failures stop it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/Command.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

std::string Address(int host) {
    return "192.0.2." + std::to_string(host);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return objects;
}

TEST(Scan, FindsThePrintServersOfABlockAndFeedsAFleet) {
    ScratchDir dir;
    // What each print server of 192.0.2.10 to .49 is: its model code and version ("" when it
    // does not answer, "bad" when its replies are not valid) and its options.
    struct Printer {
        std::string code = "aa01";
        std::string version = "1.10";  // the sample download file's: current
        std::vector<std::string> options = {};
    };
    std::map<int, Printer> printers;
    for (int host = 10; host <= 49; ++host) {
        printers[host] = {};
    }
    for (const int host : {12, 25, 38}) {
        printers[host] = {"", "", {"--no-version-reply"}};
    }
    printers[20] = {"1601", "2.00", {"--model-code", "1601", "--firmware-version", "2.00"}};
    printers[47] = {"bad", "", {"--bad-version-reply"}};
    for (const int host : {11, 15, 30}) {
        printers[host] = {"aa01", "1.00", {"--firmware-version", "1.00"}};
    }
    for (const int host : {13, 14}) {
        printers[host] = {"aa01", "1.00", {"--firmware-version", "1.00", "--fail-erase", "9"}};
    }
    std::vector<std::string> args = {"--listen", Address(10) + "-" + Address(49), "--flash-dir",
                                     dir.path().string(), "--quiet"};
    for (const auto& [host, printer] : printers) {
        if (!printer.options.empty()) {
            std::string line = Address(host);
            for (const std::string& option : printer.options) {
                line += " " + option;
            }
            args.insert(args.end(), {"--printer", line});
        }
    }
    SimProcess sim(args);
    ASSERT_TRUE(sim.Running()) << sim.Log();

    const std::string targets = (dir.path() / "found.txt").string();
    Command table({"--model", "6", "--scan", "192.0.2.0/24", "--write-targets", targets},
                  CommandSetup{}, dir.path(), "table");
    Command json({"--model", "6", "--scan", "192.0.2.10-192.0.2.49", "--scan", "192.0.2.0/24",
                  "--json", "--jobs", "50"},
                 CommandSetup{}, dir.path(), "json");
    Command none({"--model", "6", "--scan", "192.0.2.200-192.0.2.203"}, CommandSetup{}, dir.path(),
                 "none");
    ASSERT_EQ(table.Wait(), 0) << table.Err();
    ASSERT_EQ(json.Wait(), 0) << json.Err();
    EXPECT_EQ(none.Wait(), 13) << "no print server answered: " << none.Out();
    EXPECT_NE(none.Out().find("4 addresses scanned: 0 print servers answered, 4 silent\n"),
              std::string::npos)
        << none.Out();

    // The table: a row for each print server that answered, in address order, the invalid one
    // as --query shows it, then the counts; the block's other 214 addresses and the silent
    // three are silent.
    // Each row up to its seconds, which vary.
    std::vector<std::string> expected = {"target          code  version  seconds"};
    std::string written =
        "# vexil-download --scan: the print servers of model 6 (aa01) that answered\n";
    std::map<std::string, nlohmann::json> byTarget;
    for (const nlohmann::json& object : JsonLines(json.Out())) {
        if (object.contains("target")) {
            byTarget[object["target"].get<std::string>()] = object;
        }
    }
    for (const auto& [host, printer] : printers) {
        const std::string label = "tcp " + Address(host);
        SCOPED_TRACE(label);
        if (printer.code.empty()) {
            EXPECT_EQ(byTarget.count(label), 0u);
            continue;
        }
        const nlohmann::json& object = byTarget[label];
        if (printer.code == "bad") {
            expected.push_back(label + "     -        -  ");
            EXPECT_EQ(object["outcome"], "query-failed");
            EXPECT_EQ(object["firstMessage"]["number"], 113);
            EXPECT_EQ(object["lastMessage"]["number"], 113) << "--query's row ends with 113 too";
            EXPECT_TRUE(object["modelCode"].is_null());
            continue;
        }
        char row[64];
        std::snprintf(row, sizeof row, "%s  %s  %7s  ", label.c_str(), printer.code.c_str(),
                      printer.version.c_str());
        expected.push_back(row);
        written += printer.code == "aa01" ? label + "\n" : "";
        EXPECT_EQ(object["outcome"], "query-succeeded");
        EXPECT_EQ(object["modelCode"], printer.code);
        EXPECT_EQ(object["versionBefore"], printer.version);
        EXPECT_EQ(object["result"], 0);
    }
    std::istringstream rows(table.Out());
    std::string line;
    for (const std::string& row : expected) {
        ASSERT_TRUE(std::getline(rows, line)) << table.Out();
        EXPECT_EQ(line.substr(0, row.size()), row) << table.Out();
    }
    EXPECT_EQ(expected.size(), 38u);
    ASSERT_TRUE(std::getline(rows, line));
    EXPECT_EQ(line,
              "254 addresses scanned: 36 print servers answered (1 of another model), 1 without a "
              "valid version reply, 217 silent");
    EXPECT_FALSE(std::getline(rows, line)) << table.Out();
    EXPECT_EQ(JsonLines(json.Out()).back(),
              nlohmann::json::parse(R"({"summary":{"scanned":254,"answered":36,"otherModel":1,
                  "invalidReply":1,"silent":217,"cancelled":0,"exitStatus":0}})"));
    EXPECT_EQ(byTarget.size(), 37u);
    EXPECT_EQ(Slurp(targets), written);
    EXPECT_EQ(Count(sim.Log(), "mode switch"), 0u) << "a scan sends only the version query";

    // The file feeds a staged fleet: .10 is current, .11 and .15 are updated, .13 and .14 fail
    // their erase. Four at once: .10 ends at once, and the other four run when the first
    // failure (an erase, long before a download ends) stops the fleet: the 30 print servers
    // after .15 are not started.
    Command fleet({"--model", "6", "--dir", VEXIL_SAMPLE_DIR, "--targets", targets, "--yes",
                   "--skip-current", "--max-failures", "1", "--jobs", "4", "--json"},
                  CommandSetup{}, dir.path(), "fleet");
    EXPECT_EQ(fleet.Wait(200), 11) << fleet.Err();
    const std::vector<nlohmann::json> results = JsonLines(fleet.Out());
    ASSERT_EQ(results.size(), 36u) << fleet.Out();
    EXPECT_EQ(results.back(),
              nlohmann::json::parse(R"({"summary":{"targets":35,"succeeded":3,"alreadyCurrent":1,
                  "failed":32,"stopped":30,"exitStatus":11}})"));
    std::map<std::string, std::string> outcomes;
    for (const nlohmann::json& object : results) {
        if (object.contains("target")) {
            outcomes[object["target"].get<std::string>()] = object["outcome"].get<std::string>();
        }
    }
    for (const auto& [host, outcome] : std::map<int, std::string>{{10, "already-current"},
                                                                  {11, "succeeded"},
                                                                  {13, "failed"},
                                                                  {14, "failed"},
                                                                  {15, "succeeded"},
                                                                  {16, "stopped"},
                                                                  {49, "stopped"}}) {
        EXPECT_EQ(outcomes["tcp " + Address(host)], outcome) << host;
    }
    EXPECT_EQ(std::count_if(outcomes.begin(), outcomes.end(),
                            [](const auto& entry) { return entry.second == "stopped"; }),
              30);
}

}  // namespace
}  // namespace vexil::test
