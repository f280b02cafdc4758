// VYNLOOP-MIB checked by the standard tools and against the subagent's own description of it:
// smilint finds nothing to say at its most demanding level, Net-SNMP loads the module by name,
// and every column has the OID, access, syntax, range and enumeration labels (the words of
// mml/vocabulary.h) that the subagent serves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "mml/dictionary.h"
#include "snmp/layout/mib_layout.h"
#include "tests/support/snmp_rig.h"

namespace vyn::snmp::test {
namespace {

std::string Dotted(const Oid &oid) {
    std::string text;
    for (SubId id : oid) {
        text += "." + std::to_string(id);
    }
    return text;
}

class MibCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream mib(std::string(VYNLOOP_STANDARD_MIBS_DIR) + "/SNMPv2-SMI.txt");
        ASSERT_TRUE(mib.good())
            << "the standard MIB modules are missing from " VYNLOOP_STANDARD_MIBS_DIR
               ": run scripts/lib/fetch-mibs";
        ::setenv("SNMPCONFPATH", dir_.path().c_str(), 1);
        ::setenv("SNMP_PERSISTENT_DIR", dir_.path().c_str(), 1);
        // Made by Net-SNMP on first use otherwise, with a note on standard error.
        std::filesystem::create_directory(dir_ / "cert_indexes");
        ::setenv("SMIPATH", MibSearchPath().c_str(), 1);
    }

    Finished Translate(const std::vector<std::string> &args) {
        std::vector<std::string> argv{"/usr/bin/snmptranslate", "-M", MibSearchPath(), "-m",
                                      "VYNLOOP-MIB"};
        argv.insert(argv.end(), args.begin(), args.end());
        return vyn::test::RunProgram(argv);
    }

    // What smilint -l 6 says about a module file (it exits 0 even on errors).
    std::string Lint(const std::string &file) {
        Finished run = vyn::test::RunProgram({"/usr/bin/smilint", "-l", "6", file});
        return run.out + run.err;
    }

    // "SYNTAX", "MAX-ACCESS" ... of an object as snmptranslate -Td shows it.
    std::map<std::string, std::string> Definition(const std::string &name) {
        Finished run = Translate({"-Td", "VYNLOOP-MIB::" + name});
        EXPECT_EQ(run.status, 0) << name << ": " << run.err;
        std::map<std::string, std::string> clauses;
        std::istringstream lines(run.out);
        static const std::regex clause(R"(^  ([A-Z-]+)\t+(.*?) *$)");
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (std::regex_match(line, match, clause)) {
                clauses[match[1]] = match[2];
            }
        }
        return clauses;
    }

    vyn::test::TempDir dir_;
};

TEST_F(MibCheckTest, SmilintFindsNothingAtItsMostDemandingLevel) {
    const std::string mib = std::string(VYNLOOP_MIB_DIR) + "/VYNLOOP-MIB.txt";
    EXPECT_EQ(Lint(mib), "");
    // The check reads smilint's words, not its status: a flawed copy must make it speak.
    std::ifstream in(mib);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::size_t at = text.find("UNITS       \"baud\"");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 6, "UNIT  ");
    const std::string flawed = dir_.path() + "/VYNLOOP-MIB.txt";
    std::ofstream(flawed) << text;
    EXPECT_NE(Lint(flawed), "");
}

TEST_F(MibCheckTest, NetSnmpLoadsTheModuleByName) {
    Finished run =
        Translate({"-On", "VYNLOOP-MIB::vynLoopMIB", "VYNLOOP-MIB::vynLoopTestCompleted"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(Dotted(ModuleOid()) + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(Dotted(TestCompletedOid()) + "\n"), std::string::npos) << run.out;

    Finished notification = Translate({"-Td", "VYNLOOP-MIB::vynLoopTestCompleted"});
    EXPECT_NE(notification.out.find("OBJECTS\t{ portLoopState, portLoopStopErr }"),
              std::string::npos)
        << notification.out;
}

TEST_F(MibCheckTest, EveryColumnIsServedAsTheMibDefinesIt) {
    for (const Table &table : Tables()) {
        for (const Column &column : table.columns) {
            const std::string name(column.object);
            Finished oid = Translate({"-On", "VYNLOOP-MIB::" + name});
            EXPECT_EQ(oid.out, Dotted(ColumnOid(table, column)) + "\n") << name;

            std::map<std::string, std::string> clauses = Definition(name);
            EXPECT_EQ(clauses["MAX-ACCESS"],
                      column.access == Access::ReadWrite ? "read-write" : "read-only")
                << name;
            std::string syntax;
            if (!column.words.empty()) {
                syntax = "INTEGER {";
                for (const vocabulary::Word &word : column.words) {
                    syntax += (syntax.back() == '{' ? "" : ", ") + std::string(word.word) + "(" +
                              std::to_string(word.value) + ")";
                }
                syntax += "}";
            } else if (column.syntax == Syntax::Integer) {
                syntax = "Integer32 (" + std::to_string(column.low) + ".." +
                         std::to_string(column.high) + ")";
            } else if (column.syntax == Syntax::Unsigned) {
                syntax = "Unsigned32";
            } else {
                syntax = "OCTET STRING (" + std::to_string(column.low) + ".." +
                         std::to_string(column.high) + ")";
            }
            EXPECT_EQ(clauses["SYNTAX"], syntax) << name;
        }
    }
}

// Every object of the store is served, once; the other columns tell of the instance's agent.
TEST(MibLayoutTest, EveryStoreObjectIsOneColumn) {
    std::map<std::string_view, int> seen;
    for (const Table &table : Tables()) {
        for (const Column &column : table.columns) {
            if (column.source != Source::Store) {
                EXPECT_EQ(table.kind, TableKind::Module) << column.object;
                EXPECT_FALSE(mml::FindObject(column.object)) << column.object;
                continue;
            }
            ++seen[column.object];
            auto object = mml::FindObject(column.object);
            ASSERT_TRUE(object) << column.object;
            const mml::ObjectDef &def = mml::Dictionary()[*object];
            EXPECT_EQ(def.scope == mml::Scope::ModuleWide, table.kind == TableKind::Module)
                << column.object;
            EXPECT_EQ(def.type == mml::ValueType::Octets, column.syntax == Syntax::Octets)
                << column.object;
        }
    }
    EXPECT_EQ(seen.size(), mml::Dictionary().size());
    for (const auto &[object, count] : seen) {
        EXPECT_EQ(count, 1) << object;
    }
}

}  // namespace
}  // namespace vyn::snmp::test
