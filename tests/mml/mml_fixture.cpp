#include "tests/mml/mml_fixture.h"

#include <cstdlib>
#include <filesystem>

namespace vyn::mml::test {

Request::Request(std::initializer_list<std::string> names) {
    list.len = static_cast<uint32_t>(names.size());
    list.list = static_cast<MmlVarBind *>(MMLAlloc(list.len * sizeof(MmlVarBind)));
    std::size_t i = 0;
    for (const std::string &name : names) {
        EXPECT_EQ(MMLStrToMMLOid(name.c_str(), &list.list[i].oid), 0) << name;
        list.list[i++].type = MML_TYPE_NULL;
    }
}

void Request::SetInteger(std::size_t i, int32_t value) {
    list.list[i].type = MML_TYPE_INTEGER;
    list.list[i].value.integer = value;
}

void Request::SetText(std::size_t i, const std::string &text) {
    list.list[i].type = MML_TYPE_OCTETS;
    list.list[i].value.text = const_cast<char *>(text.data());
    list.list[i].length = static_cast<uint32_t>(text.size());
    list.list[i].owned = 0;
}

std::string Request::Text(std::size_t i) const {
    const MmlVarBind &record = list.list[i];
    EXPECT_EQ(record.type, MML_TYPE_OCTETS);
    EXPECT_NE(record.owned, 0u);
    EXPECT_EQ(record.value.text[record.length], '\0');
    return {record.value.text, record.length};
}

Outcome Send(MmlSessionHandle session, int32_t type, Request &request) {
    Outcome outcome;
    outcome.result = MMLRequestLocal(session, type, &request.list, &outcome.status, &outcome.index);
    return outcome;
}

void StoreTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vynmml.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/mib.db";
    ::setenv("VYNLOOP_MIB", path_.c_str(), 1);
}

void StoreTest::TearDown() {
    ::unsetenv("VYNLOOP_MIB");
    std::filesystem::remove_all(dir_);
}

std::unique_ptr<Store> StoreTest::Provisioned(bool resident) {
    Error error;
    auto store = Store::Create(path_, error);
    EXPECT_TRUE(store) << error.message;
    if (store) {
        std::vector<PortDevice> ports = {{1, "COM1"}, {2, "COM2"}};
        EXPECT_TRUE(store->Provision("demo", ports, resident, error)) << error.message;
    }
    return store;
}

MmlSessionHandle StoreTest::OpenSession(int32_t busyMs) {
    MmlSessionHandle session = 0;
    EXPECT_EQ(MMLInitialize(1, busyMs, 0, 0, 0, &session), 0);
    EXPECT_NE(session, 0u);
    return session;
}

}  // namespace vyn::mml::test
