// Object names: which names convert, which are refused and with what code.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "mml/object_name.h"
#include "mml/vynmall.h"

namespace vyn::mml {
namespace {

int Convert(const std::string &name) {
    MmlOid oid{};
    return MMLStrToMMLOid(name.c_str(), &oid);
}

TEST(ObjectNames, RefusesMalformedNamesWithTheirReason) {
    const std::string longest(31, 'x');
    struct Case {
        std::string name;
        int code;
    } cases[] = {
        {"portLoopState.demo.0", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.17", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.01", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.+1", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.-1", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.1 ", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.", MML_OID_ERROR_BAD_PORT},
        {"portLoopState.demo.100", MML_OID_ERROR_BAD_PORT},
        {"portmodLoopOperating.demo.1", MML_OID_ERROR_BAD_PORT},
        {"portLoopState..3", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopState." + longest + "x.3", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopState.de,mo.3", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopState.de mo.3", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopState.d\x7f.3", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopState", MML_OID_ERROR_BAD_INSTANCE},
        {"portmodLoopOperating.", MML_OID_ERROR_BAD_INSTANCE},
        {"portLoopStat.demo.1", MML_OID_ERROR_UNKNOWN_OBJECT},
        {"PORTLOOPSTATE.demo.1", MML_OID_ERROR_UNKNOWN_OBJECT},
        {"", MML_OID_ERROR_UNKNOWN_OBJECT},
        {".demo.1", MML_OID_ERROR_UNKNOWN_OBJECT},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Convert(c.name), c.code) << "'" << c.name << "'";
    }
    EXPECT_EQ(Convert("portLoopState." + longest + ".3"), 0);
    MmlOid oid{};
    EXPECT_EQ(MMLStrToMMLOid(nullptr, &oid), MML_OID_ERROR_NULL);
    EXPECT_EQ(MMLStrToMMLOid("portLoopState.demo.1", nullptr), MML_OID_ERROR_NULL);
}

TEST(ObjectNames, InstancesMayHoldDotsAndIdentifiersTellThemApart) {
    ObjectKey key;
    ASSERT_EQ(ParseObjectName("portLoopState.lab.rack-2.12", key), 0);
    EXPECT_EQ(key.instance, "lab.rack-2");
    EXPECT_EQ(key.port, 12);
    MmlOid a{}, b{}, c{};
    ASSERT_EQ(MMLStrToMMLOid("portLoopState.lab.rack-2.12", &a), 0);
    ASSERT_EQ(MMLStrToMMLOid("portLoopState.lab.12", &b), 0);
    ASSERT_EQ(MMLStrToMMLOid("portLoopState.lab.rack-2.12", &c), 0);
    EXPECT_NE(a.words[1], b.words[1]);
    EXPECT_EQ(std::make_pair(a.words[0], a.words[1]), std::make_pair(c.words[0], c.words[1]));
    EXPECT_TRUE(DecodeOid(a, key) && FullName(key) == "portLoopState.lab.rack-2.12");
    EXPECT_FALSE(DecodeOid(MmlOid{}, key));
    EXPECT_FALSE(DecodeOid(MmlOid{{a.words[0], 0xFFFFFFu}}, key));
}

}  // namespace
}  // namespace vyn::mml
